// The simulated bootloader against the wire examples and the unit contract's replies.
#include <gtest/gtest.h>

#include "sim/discovery_responder.h"
#include "sim/sim_unit.h"
#include "tests/sim/sim_test_support.h"

namespace {

UnitConfig bootloadUnit() {
    UnitConfig config;
    config.startInBootload = true;
    config.restartDelayMs = 50;
    return config;
}

Bytes transactWith(SimUnit& unit, const Bytes& frame, uint64_t nowMs = 0) {
    std::vector<Outgoing> out = unit.onBootloaderDatagram(frame.data(), frame.size(), nowMs);
    return out.empty() ? Bytes{} : out.front().bytes;
}

TEST(SimWireFormat, RequestAndReplyFramesMatchTheWireExamples) {
    EXPECT_EQ(frameOf({0x89, 0, 0, 0, 1}), (Bytes{0x01, 0x89, 0x00, 0x00, 0x00, 0x10, 0x01, 0x8D, 0x9A, 0x04}));
    EXPECT_EQ(frameOf({0x0D}), (Bytes{0x01, 0x0D, 0xAD, 0xD1, 0x04}));

    UnitConfig config = bootloadUnit();
    config.applicationMinor = 5;
    config.applicationMajor = 2;
    SimUnit unit(config);
    Bytes request = {0x01, 0x89, 0x00, 0x00, 0x00, 0x10, 0x01, 0x8D, 0x9A, 0x04};
    EXPECT_EQ(transactWith(unit, request),
              (Bytes{0x01, 0x89, 0x00, 0x00, 0x00, 0x10, 0x01, 0x05, 0x00, 0x02, 0x00, 0x18, 0x0D, 0x04}));
}

TEST(SimWireFormat, VersionReplyCarriesTheSequenceByteOnlyWhenConfigured) {
    UnitConfig current = bootloadUnit();
    SimUnit modern(current);
    EXPECT_EQ(replyMessage(transactWith(modern, frameOf({0x01}))), (Bytes{0x01, 0x03, 0x01, 0x01}));

    UnitConfig legacy = bootloadUnit();
    legacy.bootloaderVersion = 0x0300;
    legacy.acceptsSequenced = false;
    SimUnit old(legacy);
    EXPECT_EQ(replyMessage(transactWith(old, frameOf({0x01}))), (Bytes{0x01, 0x03, 0x00}));
    // A bootloader without sequenced commands does not understand them at all.
    EXPECT_TRUE(transactWith(old, frameOf(sequencedMessage(0x82, 1))).empty());
    EXPECT_EQ(old.bootloader().stats().anomalyCount, 1u);
}

TEST(SimWireFormat, IdentificationIsThreeLinesEndingInBootload) {
    SimUnit unit(bootloadUnit());
    Bytes reply = replyMessage(transactWith(unit, {0x01, 0x0D, 0xAD, 0xD1, 0x04}));
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0], 0x0D);
    EXPECT_EQ(std::string(reply.begin() + 1, reply.end()),
              "ZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Bootload\r\n");
}

TEST(SimCommands, AckedCommandsAndVersionWriteAndQuery) {
    SimUnit unit(bootloadUnit());
    for (uint8_t code : {0x02, 0x05, 0x07, 0x0C}) {
        EXPECT_EQ(replyMessage(transactWith(unit, frameOf({code}))), (Bytes{code, 0x01})) << int(code);
    }
    EXPECT_EQ(replyMessage(transactWith(unit, frameOf({0x08, 12, 0, 1, 0}))), (Bytes{0x08, 0x01}));
    EXPECT_EQ(replyMessage(transactWith(unit, frameOf({0x09}))), (Bytes{0x09, 12, 0, 1, 0}));
    EXPECT_TRUE(unit.bootloader().stats().versionWritten);
}

TEST(SimCommands, CloseAndLeaveAreNotAnsweredAndLeaveReturnsToTheApplication) {
    SimUnit unit(bootloadUnit());
    EXPECT_TRUE(transactWith(unit, frameOf({0x04}), 0).empty());
    EXPECT_TRUE(unit.closeReceived());
    EXPECT_TRUE(transactWith(unit, frameOf({0x0B}), 0).empty());
    EXPECT_TRUE(unit.bootloader().stats().leaveReceived);
    EXPECT_EQ(unit.mode(), UnitMode::Restarting);
    unit.tick(49);
    EXPECT_EQ(unit.mode(), UnitMode::Restarting);
    unit.tick(50);
    EXPECT_EQ(unit.mode(), UnitMode::Application);
    // The application does not answer bootloader frames.
    EXPECT_TRUE(transactWith(unit, frameOf({0x01}), 60).empty());
}

TEST(SimCommands, ChunksLandInTheFlashModelAndBadChunksFail) {
    SimUnit unit(bootloadUnit());
    Bytes chunk(72, 0);
    chunk[0] = 0x00, chunk[1] = 0x00, chunk[2] = 0x04;  // 0x40000, little-endian
    chunk[4] = 3;
    chunk[8] = 0xAA, chunk[9] = 0x01, chunk[10] = 0x10;
    transactWith(unit, frameOf({0x05}));
    EXPECT_EQ(replyMessage(transactWith(unit, frameOf(concat({{0x06}, chunk})))), (Bytes{0x06, 1}));
    uint8_t value = 0;
    ASSERT_TRUE(unit.bootloader().flashMemory().read(0x40001, value));
    EXPECT_EQ(value, 0x01);
    EXPECT_EQ(unit.bootloader().flashMemory().bytesWritten(), 3u);

    chunk[4] = 65;
    EXPECT_EQ(replyMessage(transactWith(unit, frameOf(concat({{0x06}, chunk})))), (Bytes{0x06, 0}));
    EXPECT_EQ(replyMessage(transactWith(unit, frameOf({0x06, 1, 2, 3}))), (Bytes{0x06, 0}));
}

TEST(SimFaults, ProcessingDelayReplyTwiceAndSilence) {
    UnitConfig config = bootloadUnit();
    config.faults.eraseDelayMs = 300;
    config.faults.replyTwice = true;
    SimUnit unit(config);
    std::vector<Outgoing> out = unit.onBootloaderDatagram(frameOf({0x02}).data(), 5, 1000);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].dueMs, 1300u);
    EXPECT_EQ(out[0].bytes, out[1].bytes);
    EXPECT_TRUE(unit.busy(1299));
    EXPECT_FALSE(unit.busy(1300));

    UnitConfig silent = bootloadUnit();
    silent.faults.silentBootloader = true;
    SimUnit quiet(silent);
    EXPECT_TRUE(transactWith(quiet, frameOf({0x01})).empty());
    EXPECT_EQ(quiet.linkStats().framesIgnored, 1u);
}

TEST(SimFaults, SeededLossIsRepeatableAndAVanishedUnitStaysSilent) {
    UnitConfig config = bootloadUnit();
    config.faults.dropOutgoingPercent = 50;
    config.faults.seed = 7;
    auto pattern = [&]() {
        SimUnit unit(config);
        std::string answered;
        for (int i = 0; i < 40; ++i) answered += transactWith(unit, frameOf({0x09})).empty() ? '-' : 'r';
        return answered;
    };
    std::string first = pattern();
    EXPECT_EQ(first, pattern());
    EXPECT_NE(first.find('-'), std::string::npos);
    EXPECT_NE(first.find('r'), std::string::npos);

    UnitConfig vanishing = bootloadUnit();
    vanishing.faults.vanishAfterCommands = 2;
    SimUnit unit(vanishing);
    EXPECT_FALSE(transactWith(unit, frameOf({0x09})).empty());
    EXPECT_FALSE(transactWith(unit, frameOf({0x09})).empty());
    EXPECT_TRUE(transactWith(unit, frameOf({0x09})).empty());
    Bytes request(kDiscoveryRequest, kDiscoveryRequest + 29);
    EXPECT_TRUE(unit.onDiscovery(request.data(), request.size()).empty());
}

TEST(SimFaults, CorruptedRepliesFailTheirCrc) {
    UnitConfig config = bootloadUnit();
    config.faults.corruptPercent = 100;
    SimUnit unit(config);
    Bytes reply = transactWith(unit, frameOf({0x09}));
    ASSERT_FALSE(reply.empty());
    EXPECT_NE(reply, frameOf({0x09, 0, 0, 1, 0}));
    EXPECT_EQ(unit.linkStats().repliesCorrupted, 1u);
}

TEST(SimDiscovery, OnlyTheExactRequestIsAnsweredWithTheMode) {
    UnitConfig config;
    std::string request = "Discovery: Who is out there ?";
    ASSERT_EQ(request.size(), 29u);
    auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
    EXPECT_EQ(discoveryReply(config, false, bytes(request), request.size()),
              "ZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Application\r\n");
    EXPECT_EQ(discoveryReply(config, true, bytes(request), request.size()),
              "ZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Bootload\r\n");
    for (std::string other : {request + "\r\n", request + std::string(1, '\0'), request.substr(0, 28),
                              std::string("discovery: Who is out there ?")}) {
        EXPECT_TRUE(discoveryReply(config, false, bytes(other), other.size()).empty()) << other;
    }
}

}  // namespace
