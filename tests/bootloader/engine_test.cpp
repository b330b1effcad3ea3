// The transaction engine against a scripted transport on a fake clock.
#include <gtest/gtest.h>

#include <functional>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_engine.h"
#include "tests/support/frames.h"
#include "tests/support/scripted_transport.h"

namespace {

class EngineTest : public ::testing::Test {
protected:
    // Reads that find nothing take readMs, as on the real link.
    ScriptedTransport* attach(uint32_t readMs, TransportKind kind = TransportKind::kUdp) {
        auto transport = std::make_unique<ScriptedTransport>(clock, readMs, kind);
        ScriptedTransport* raw = transport.get();
        engine.setTransport(std::move(transport));
        engine.openTransport();
        return raw;
    }

    FakeClock clock;
    BootloaderEngine engine;
};

constexpr uint8_t plain(Command command) { return commandByte(command, false); }
constexpr uint8_t sequenced(Command command) { return commandByte(command, true); }

Bytes reply(const BootloaderEngine& engine) {
    return Bytes(engine.replyData(), engine.replyData() + engine.replyLength());
}

}  // namespace

TEST_F(EngineTest, SequencedQueryOnTheWireAndRepackedReply) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes&) {
        t.queueRead({0x01, 0x89, 0x00, 0x00, 0x00, 0x10, 0x01, 0x05, 0x00, 0x02, 0x00, 0x18, 0x0D, 0x04});
    };
    ASSERT_TRUE(engine.transact(sequenced(Command::kApplicationVersion), nullptr, 0, 5, 500));
    EXPECT_EQ(link->log->writes.at(0), (Bytes{0x01, 0x89, 0x00, 0x00, 0x00, 0x10, 0x01, 0x8D, 0x9A, 0x04}));
    EXPECT_EQ(reply(engine), (Bytes{0x09, 0x05, 0x00, 0x02, 0x00, 0x5B, 0x72}));
    EXPECT_EQ(engine.replyLength(), 7);
}

TEST_F(EngineTest, PlainCommandOnTheWire) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) { t.queueRead(replyFrame(w, {0x41})); };
    ASSERT_TRUE(engine.transact(plain(Command::kIdentifyText), nullptr, 0, 5, 500));
    EXPECT_EQ(link->log->writes.at(0), (Bytes{0x01, 0x0D, 0xAD, 0xD1, 0x04}));
}

TEST_F(EngineTest, SequenceNumbersCountFromIdentificationAndSkipZero) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) { t.queueRead(replyFrame(w, {0x01})); };
    const uint8_t records[] = {0x00};
    ASSERT_TRUE(engine.transact(sequenced(Command::kIdentify), nullptr, 0, 1, 100));
    EXPECT_EQ(sequenceOf(link->log->writes.back()), 1u);
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), records, 1, 1, 100));
    EXPECT_EQ(sequenceOf(link->log->writes.back()), 2u);
    ASSERT_TRUE(engine.transact(plain(Command::kIdentify), nullptr, 0, 1, 100));
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), records, 1, 1, 100));
    EXPECT_EQ(sequenceOf(link->log->writes.back()), 1u);

    engine.setSequenceForTesting(0xFFFFFFFF);
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramChunk), std::vector<uint8_t>(kChunkBlockBytes).data(),
                                kChunkBlockBytes, 1, 100));
    EXPECT_EQ(sequenceOf(link->log->writes.back()), 1u);
}

TEST_F(EngineTest, ReplyWithPreviousSequenceIsIgnored) {
    ScriptedTransport* link = attach(150);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        t.queueRead(replyFrameWithSequence(w, sequenceOf(w) - 1, {0x01}));
    };
    engine.setSequenceForTesting(5);
    EXPECT_FALSE(engine.transact(sequenced(Command::kProgramChunk), std::vector<uint8_t>(kChunkBlockBytes).data(),
                                 kChunkBlockBytes, 2, 1000));
    EXPECT_EQ(link->log->writes.size(), 2u);
}

TEST_F(EngineTest, ResendTimingOnASilentSerialLink) {
    ScriptedTransport* link = attach(150, TransportKind::kSerial);
    const uint32_t start = clock.now();
    EXPECT_FALSE(engine.transact(plain(Command::kIdentify), nullptr, 0, 5, 1000));
    const auto& times = link->log->writeTimes;
    ASSERT_EQ(times.size(), 5u);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 1050u);
    EXPECT_EQ(times[0], start);
    EXPECT_EQ(clock.now() - times[4], 300u);
    EXPECT_EQ(engine.counters().requests, 1u);
    EXPECT_EQ(engine.counters().resends, 4u);
    EXPECT_EQ(engine.counters().timeouts, 1u);
}

// A peer that answers every read with a valid frame of another command, or with an old sequence
// number, must not hold the transaction past its attempts.
TEST_F(EngineTest, FloodOfForeignFramesEndsWithTheAttempts) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        for (int i = 0; i < 4000; ++i) {
            t.queueRead(i % 2 ? wireFrame({0x0D, 0x41}) : replyFrameWithSequence(w, sequenceOf(w) + 9, {0x01}));
        }
    };
    const uint32_t start = clock.now();
    EXPECT_FALSE(engine.transact(sequenced(Command::kApplicationVersion), nullptr, 0, 5, 1000));
    EXPECT_EQ(link->log->writes.size(), 5u);
    // Four resend intervals, then the two reads' wait after the last send (a read of a frame takes 1 ms).
    EXPECT_LE(clock.now() - start, 4 * 1001u + 2 * 10 + 2);
    EXPECT_GT(engine.counters().staleFrames, 4000u);
}

Bytes plainAck(uint8_t command) { return wireFrame({command, 0x01}); }

// A plain copy caught at once proves nothing: the next one may come late, after the next request
// went out. Once a copy has been seen, replies are in doubt, whether it came in the same read,
// before the next send, or during another command's wait.
TEST_F(EngineTest, PlainRepliesSentTwicePutRepliesInDoubtWhenEverTheCopyComes) {
    const uint8_t record[] = {0x00, 0x00};
    for (int copyAfterMs : {0, 5, 30}) {
        engine.setTransport(nullptr);
        engine.resetEngine();
        ScriptedTransport* link = attach(10);
        link->onWrite = [copyAfterMs](ScriptedTransport& t, const Bytes& w) {
            t.queueRead(plainAck(w[1]));
            t.queueReadAt(t.log->writeTimes.back() + copyAfterMs, plainAck(w[1]));
        };
        ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000));
        engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000);
        engine.transact(plain(Command::kWriteVersion), record, 2, 5, 1000);
        EXPECT_TRUE(engine.repliesInDoubt()) << copyAfterMs;
    }
}

// The copy of one ack arrives after the next request went out and is taken for its reply; the
// real reply that follows shows it, and the replies are in doubt until the next identification.
TEST_F(EngineTest, LateCopyTakenForTheNextPlainReplyPutsRepliesInDoubt) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        if (t.log->writes.size() == 2) t.queueRead(plainAck(w[1]));
        t.queueRead(plainAck(w[1]));
    };
    const uint8_t record[] = {0x00};
    ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000));
    ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000));
    EXPECT_FALSE(engine.repliesInDoubt());
    engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000);
    EXPECT_TRUE(engine.repliesInDoubt());

    link->onWrite = [](ScriptedTransport& t, const Bytes& w) { t.queueRead(replyFrame(w, {0x03, 0x01})); };
    ASSERT_TRUE(engine.transact(plain(Command::kIdentify), nullptr, 0, 5, 1000));
    EXPECT_FALSE(engine.repliesInDoubt());
}

// Sequenced replies name their request, so copies are only counted.
TEST_F(EngineTest, SequencedCopiesAreNeverInDoubt) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        t.queueRead(replyFrame(w, {0x01}));
        t.queueRead(replyFrame(w, {0x01}));
    };
    const uint8_t record[] = {0x00};
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
    EXPECT_FALSE(engine.repliesInDoubt());
    EXPECT_EQ(engine.counters().staleFrames, 3u);
}

TEST_F(EngineTest, CloseCommandGoesOnceAndWaitsTwoReads) {
    ScriptedTransport* link = attach(10);
    EXPECT_FALSE(engine.transact(plain(Command::kClose), nullptr, 0, 5, 1000));
    EXPECT_EQ(link->log->writes.size(), 1u);
    EXPECT_EQ(link->log->reads, 2);
}

TEST_F(EngineTest, LeaveCommandGoesOnce) {
    ScriptedTransport* link = attach(10);
    EXPECT_FALSE(engine.transact(sequenced(Command::kLeave), nullptr, 0, 5, 1000));
    EXPECT_EQ(link->log->writes.size(), 1u);
}

TEST_F(EngineTest, PayloadRules) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) { t.queueRead(replyFrame(w, {0x01})); };
    ASSERT_TRUE(BootloaderCommands(engine).writeVersion(3, 2));
    EXPECT_EQ(messageOf(link->log->writes.back()), (Bytes{0x08, 0x03, 0x00, 0x02, 0x00}));

    const uint8_t stuffed[] = {0x10};
    ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), stuffed, 1, 1, 100));
    EXPECT_EQ(link->log->writes.back()[1], 0x03);
    EXPECT_EQ(link->log->writes.back()[2], 0x10);
    EXPECT_EQ(link->log->writes.back()[3], 0x10);

    const char text[] = "name";
    ASSERT_TRUE(engine.transact(plain(Command::kSetName), reinterpret_cast<const uint8_t*>(text), sizeof text, 1, 100));
    EXPECT_EQ(messageOf(link->log->writes.back()), (Bytes{0x0A, 'n', 'a', 'm', 'e', 0x00}));
}

TEST_F(EngineTest, RefusedCommandsSendNothing) {
    ScriptedTransport* link = attach(10);
    for (uint8_t command : {0x00, 0x0E, 0x7F, 0x80, 0x8E, 0xFF}) {
        EXPECT_FALSE(engine.transact(command, nullptr, 0, 1, 100)) << int(command);
    }
    EXPECT_TRUE(link->log->writes.empty());
}

TEST_F(EngineTest, OversizeMessageIsRefusedWithoutUsingASequenceNumber) {
    ScriptedTransport* link = attach(10);
    std::vector<uint8_t> records(1500, 0x10);  // stuffing doubles it past the buffer
    EXPECT_FALSE(engine.transact(sequenced(Command::kProgramRecords), records.data(),
                                 static_cast<uint32_t>(records.size()), 5, 100));
    std::vector<uint8_t> tooLong(2100, 0x22);
    EXPECT_FALSE(engine.transact(plain(Command::kProgramRecords), tooLong.data(), static_cast<uint32_t>(tooLong.size()),
                                 5, 100));
    EXPECT_TRUE(link->log->writes.empty());
    EXPECT_EQ(engine.sequence(), 0u);
}

TEST_F(EngineTest, ClosedTransportFailsAtOnce) {
    ScriptedTransport* link = attach(10);
    link->close();
    EXPECT_FALSE(engine.transact(plain(Command::kIdentify), nullptr, 0, 5, 1000));
    EXPECT_TRUE(link->log->writes.empty());
}

TEST_F(EngineTest, TransportClosedMidTransactionEndsIt) {
    ScriptedTransport* link = attach(150, TransportKind::kSerial);
    link->onWrite = [](ScriptedTransport& t, const Bytes&) { t.close(); };
    EXPECT_FALSE(engine.transact(plain(Command::kEraseApplication), nullptr, 0, 5, 10000));
    EXPECT_EQ(link->log->writes.size(), 1u);
}

TEST_F(EngineTest, StaleReplyAndRightReplyInOneReadNeedNoResend) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        Bytes stale = replyFrameWithSequence(w, sequenceOf(w) - 1, {0x01});
        Bytes right = replyFrame(w, {0x01});
        stale.insert(stale.end(), right.begin(), right.end());
        t.queueRead(stale);
    };
    engine.setSequenceForTesting(7);
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramChunk), std::vector<uint8_t>(kChunkBlockBytes).data(),
                                kChunkBlockBytes, 5, 1000));
    EXPECT_EQ(link->log->writes.size(), 1u);
}

TEST_F(EngineTest, ReplyThatArrivedBeforeTheRequestIsNotTakenForIt) {
    ScriptedTransport* link = attach(10);
    // A late ack of an earlier program request waits in the socket; this request is lost.
    link->queueRead(wireFrame({0x03, 0x01}));
    EXPECT_FALSE(engine.transact(plain(Command::kProgramRecords), std::vector<uint8_t>(21).data(), 21, 2, 100));
    EXPECT_EQ(link->log->discards, 1);
}

TEST_F(EngineTest, ReplyInTheLastReadLeavesEngineReady) {
    ScriptedTransport* link = attach(150, TransportKind::kSerial);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        if (t.log->writes.size() == 2) {
            t.queueRead({});
            t.queueRead(replyFrame(w, {0x01}));
        }
    };
    ASSERT_TRUE(engine.transact(sequenced(Command::kEraseApplication), nullptr, 0, 2, 1000));
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        if (t.log->writes.size() == 7) t.queueRead(replyFrame(w, {0x01}));
    };
    EXPECT_TRUE(engine.transact(sequenced(Command::kEraseApplication), nullptr, 0, 5, 100));
    EXPECT_EQ(link->log->writes.size(), 7u);
}

// The unit loses its reply to the first send and answers the last one at once, but the serial
// driver hands the frame over in pieces over 100 ms: the wait after the last send is by the
// clock, not two reads, so the reply is taken. An image erase has 2 sends, a chunk 5. Then an
// erase request is lost and the last send starts the erase: its reply comes 3 s later.
TEST_F(EngineTest, ReplyToTheLastSendInPiecesOverASerialLineIsTaken) {
    ScriptedTransport* link = attach(150, TransportKind::kSerial);
    uint16_t lastSend = 2;
    uint16_t sends = 0;
    uint32_t replyAfterMs = 2;
    link->onWrite = [&lastSend, &sends, &replyAfterMs](ScriptedTransport& t, const Bytes& w) {
        if (++sends < lastSend) return;
        const Bytes frame = replyFrame(w, {0x01});
        const uint32_t sentAt = t.log->writeTimes.back();
        const size_t piece = (frame.size() + 3) / 4;
        for (size_t i = 0; i < 4; ++i) {
            const auto from = frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), i * piece));
            const auto to = frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), (i + 1) * piece));
            t.queueReadAt(sentAt + replyAfterMs + static_cast<uint32_t>(i) * 33, Bytes(from, to));
        }
    };
    EXPECT_TRUE(engine.transact(sequenced(Command::kEraseImage), nullptr, 0, 2, 10000));
    EXPECT_EQ(link->log->writes.size(), 2u);
    lastSend = 5;
    sends = 0;
    EXPECT_TRUE(engine.transact(sequenced(Command::kProgramChunk), std::vector<uint8_t>(kChunkBlockBytes).data(),
                                kChunkBlockBytes, 5, 1000));
    EXPECT_EQ(link->log->writes.size(), 7u);
    lastSend = 2;
    sends = 0;
    replyAfterMs = 3000;
    EXPECT_TRUE(engine.transact(sequenced(Command::kEraseImage), nullptr, 0, 2, 10000));
    EXPECT_EQ(link->log->writes.size(), 9u);
    EXPECT_EQ(engine.counters().timeouts, 0u);
}

// A plain unit whose write outlasts the resend time runs both sends and answers both. The next
// record request is lost: the second answer must not pass for its reply. A version query goes
// first, and its reply comes behind the extra answer.
TEST_F(EngineTest, ExtraRepliesOfAResentPlainRequestAreFlushedBeforeTheNextOfItsKind) {
    ScriptedTransport* link = attach(10);
    uint32_t busyUntil = 0;
    link->onWrite = [&busyUntil](ScriptedTransport& t, const Bytes& w) {
        const size_t n = t.log->writes.size();
        if (n == 4) return;  // the next record request is lost
        const uint32_t now = t.log->writeTimes.back();
        busyUntil = std::max(busyUntil, now) + (w[1] == plain(Command::kProgramRecords) && n <= 2 ? 1300 : 1);
        t.queueReadAt(busyUntil, w[1] == plain(Command::kApplicationVersion) ? replyFrame(w, {0x00, 0x00, 0x01, 0x00})
                                                                             : plainAck(w[1]));
    };
    const uint8_t record[] = {0x00};
    ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000));
    ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000));
    ASSERT_EQ(link->log->writes.size(), 5u);
    EXPECT_EQ(messageOf(link->log->writes[2]), Bytes{plain(Command::kApplicationVersion)});
    EXPECT_EQ(messageOf(link->log->writes[4])[0], plain(Command::kProgramRecords));
    EXPECT_FALSE(engine.repliesInDoubt());
}

// Another updater on another host drives the same unit: replies numbered beyond any request
// this run sent are no copies, and the replies are in doubt.
TEST_F(EngineTest, SequencedReplyNumberedBeyondAnyRequestSentPutsRepliesInDoubt) {
    ScriptedTransport* link = attach(10);
    link->onWrite = [](ScriptedTransport& t, const Bytes& w) {
        t.queueRead(replyFrameWithSequence(w, sequenceOf(w) + 40, {0x01}));
        t.queueRead(replyFrame(w, {0x01}));
    };
    engine.setSequenceForTesting(7);
    const uint8_t record[] = {0x00};
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
    EXPECT_TRUE(engine.repliesInDoubt());
}

TEST_F(EngineTest, SetTransportNullClosesAndDeletesTheHeldOne) {
    ScriptedTransport* link = attach(10);
    auto log = link->log;
    engine.setTransport(nullptr);
    EXPECT_TRUE(log->closed);
    EXPECT_TRUE(log->deleted);
    EXPECT_EQ(engine.transport(), nullptr);
}

// Fast resends: a lost reply costs about the measured reply time, not the whole interval; a
// silent unit fails as late as without them; plain commands keep the interval.
TEST_F(EngineTest, FastResendFollowsTheReplyTimesWithinTheSameBudget) {
    ScriptedTransport* link = attach(10);
    engine.setFastResend(FastResend::kAlways);
    bool loseNext = false;
    link->onWrite = [&loseNext](ScriptedTransport& t, const Bytes& w) {
        if (loseNext) {
            loseNext = false;
            return;
        }
        t.queueRead(replyFrame(w, {0x01}));
    };
    const uint8_t record[] = {0x00};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
    loseNext = true;
    const uint32_t lostAt = clock.now();
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
    EXPECT_LT(clock.now() - lostAt, 100u);
    EXPECT_EQ(engine.counters().resends, 1u);

    // A command not timed yet goes by the other commands' reply times; an erase keeps its interval.
    loseNext = true;
    const uint32_t firstChunkAt = clock.now();
    ASSERT_TRUE(engine.transact(sequenced(Command::kProgramChunk), std::vector<uint8_t>(kChunkBlockBytes).data(),
                                kChunkBlockBytes, 5, 1000));
    EXPECT_LT(clock.now() - firstChunkAt, 100u);
    loseNext = true;
    const uint32_t eraseAt = clock.now();
    ASSERT_TRUE(engine.transact(sequenced(Command::kEraseImage), nullptr, 0, 2, 10000));
    EXPECT_GE(clock.now() - eraseAt, 10000u);

    link->onWrite = nullptr;
    const size_t sendsBefore = link->log->writes.size();
    const uint32_t silentAt = clock.now();
    EXPECT_FALSE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
    EXPECT_GE(clock.now() - silentAt, 4000u);
    EXPECT_LE(clock.now() - silentAt, 4000u + 3 * 10);
    EXPECT_GT(link->log->writes.size() - sendsBefore, 5u);

    loseNext = true;
    link->onWrite = [&loseNext](ScriptedTransport& t, const Bytes& w) {
        if (!loseNext) t.queueRead(replyFrame(w, {0x03, 0x01}));
        loseNext = false;
    };
    const uint32_t plainAt = clock.now();
    ASSERT_TRUE(engine.transact(plain(Command::kProgramRecords), record, 1, 5, 1000));
    EXPECT_GE(clock.now() - plainAt, 1000u);
}

// Adaptive: the described interval until the first resend, early resends after it.
TEST_F(EngineTest, FastResendOnceResentWaitsTheIntervalOnlyForTheFirstLoss) {
    ScriptedTransport* link = attach(10);
    engine.setFastResend(FastResend::kOnceResent);
    bool loseNext = false;
    link->onWrite = [&loseNext](ScriptedTransport& t, const Bytes& w) {
        if (!loseNext) t.queueRead(replyFrame(w, {0x01}));
        loseNext = false;
    };
    const uint8_t record[] = {0x00};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
    for (uint32_t longestMs : {1100u, 100u}) {
        loseNext = true;
        const uint32_t lostAt = clock.now();
        ASSERT_TRUE(engine.transact(sequenced(Command::kProgramRecords), record, 1, 5, 1000));
        EXPECT_LT(clock.now() - lostAt, longestMs);
        EXPECT_GT(clock.now() - lostAt, longestMs / 2 - 50);
    }
}

// Every command's sends and their spacing against a silent unit, as the protocol fixes them;
// the worker's state queries wait 500 ms between sends.
TEST_F(EngineTest, EachCommandGoesItsNumberOfTimesAtItsInterval) {
    struct Row {
        const char* name;
        std::function<void(BootloaderCommands&)> call;
        size_t sends;
        uint32_t intervalMs;
    };
    uint32_t version = 0;
    const uint8_t data[4] = {};
    const uint8_t* text = nullptr;
    uint16_t textLength = 0;
    const std::vector<Row> rows = {
        {"identify", [](BootloaderCommands& c) { c.identify(); }, 5, 1000},
        {"identify (query)", [](BootloaderCommands& c) { c.identify(500); }, 5, 500},
        {"erase application", [](BootloaderCommands& c) { c.eraseApplication(); }, 5, 10000},
        {"program records", [&](BootloaderCommands& c) { c.programRecords(data, 4); }, 5, 1000},
        {"close", [](BootloaderCommands& c) { c.close(); }, 1, 0},
        {"erase image", [](BootloaderCommands& c) { c.eraseImage(); }, 2, 10000},
        {"program chunk", [&](BootloaderCommands& c) { c.programChunk(0, data, 4); }, 5, 1000},
        {"end image", [](BootloaderCommands& c) { c.endImage(); }, 5, 1000},
        {"write version", [](BootloaderCommands& c) { c.writeVersion(1, 1); }, 5, 1000},
        {"application version", [&](BootloaderCommands& c) { c.applicationVersion(version); }, 5, 1000},
        {"application version (query)", [&](BootloaderCommands& c) { c.applicationVersion(version, 500); }, 5, 500},
        {"leave", [](BootloaderCommands& c) { c.leave(); }, 1, 0},
        {"factory defaults", [](BootloaderCommands& c) { c.factoryDefaults(); }, 2, 5000},
        {"identify text", [&](BootloaderCommands& c) { c.identifyText(5, 500, text, textLength); }, 5, 500},
    };
    for (const Row& row : rows) {
        ScriptedTransport* link = attach(10);
        BootloaderCommands commands(engine);
        row.call(commands);
        const auto& times = link->log->writeTimes;
        EXPECT_EQ(times.size(), row.sends) << row.name;
        for (size_t i = 1; i < times.size(); ++i) {
            EXPECT_GE(times[i] - times[i - 1], row.intervalMs) << row.name;
            EXPECT_LE(times[i] - times[i - 1], row.intervalMs + 10) << row.name;
        }
        // After the last send two reads' time, but the erases and the factory defaults (intervals
        // of seconds) get their interval: with the first request lost, the last send starts them.
        EXPECT_LE(clock.now() - times.back(), row.intervalMs >= 5000 ? row.intervalMs : 2 * 10u) << row.name;
    }
}
