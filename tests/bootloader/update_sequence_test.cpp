// Update and exit-bootload runs against a scripted bootloader: every outcome, its messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "bootloader/update_sequence.h"
#include "tests/support/frames.h"
#include "tests/support/message_pump.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_transport.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

namespace {

// A bootloader that acks everything, with knobs for the cases under test.
struct ScriptedUnit {
    Bytes version = {0x03, 0x01, 0x00};  // 3.1 with the byte that enables sequenced commands
    std::set<uint8_t> silent = {4, 11};  // commands that get no reply
    std::map<uint8_t, uint8_t> status;   // status byte per command, 1 when absent
    std::vector<Bytes> received;         // messages, in order
    std::function<void(const ScriptedUnit&)> afterReceive;

    void attachTo(ScriptedTransport& t) {
        t.onWrite = [this](ScriptedTransport& link, const Bytes& frame) {
            Bytes m = messageOf(frame);
            received.push_back(m);
            if (afterReceive) afterReceive(*this);
            const uint8_t code = m.at(0) & 0x7F;
            if (silent.count(code)) return;
            Bytes payload = {status.count(code) ? status[code] : uint8_t{1}};
            if (code == 1) payload = version;
            if (code == 9) payload = {0x05, 0x00, 0x02, 0x00};
            link.queueRead(replyFrame(frame, payload));
        };
    }
    std::vector<uint8_t> commands() const {
        std::vector<uint8_t> out;
        for (const Bytes& m : received) out.push_back(m[0]);
        return out;
    }
    size_t count(uint8_t command) const {
        size_t n = 0;
        for (const Bytes& m : received) n += m[0] == command;
        return n;
    }
};

std::string hexImage() {
    return ":020000040000fa\r\n:020000041d00dd\r\n"
           ":10000000000102030405060708090a0b0c0d0e0f78\r\n"
           ":10001000101112131415161718191a1b1c1d1e1f68\r\n"
           ":04002000202122235a\r\n:00000001FF\r\n";
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        loadUiStrings();
        const std::string text = hexImage();
        application.loadFromBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
        flashBytes.resize(200);
        for (size_t i = 0; i < flashBytes.size(); ++i) flashBytes[i] = static_cast<uint8_t>(i * 7);
        ScratchDir scratch;
        const std::filesystem::path path = scratch.file("flash.bin");
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(flashBytes.data(), 1, flashBytes.size(), f);
        std::fclose(f);
        ASSERT_EQ(flash.loadFromFile(path), 1);
    }

    uint32_t update(uint8_t firmware, uint8_t ui, uint8_t defaults, const wchar_t* version = L"V1.12") {
        options.overwriteServerFirmware = firmware;
        options.overwriteServerUi = ui;
        options.overwriteFactoryDefaults = defaults;
        UpdateJob job{engine, application, flash, options, &window, version};
        job.stopRequested = &stop;
        auto transport = std::make_unique<ScriptedTransport>(clock, 10);
        unit.attachTo(*transport);
        uint32_t result = 0;
        received = pumpWhile(window, [&] { result = runUpdate(job, std::move(transport)); });
        return result;
    }

    std::vector<platform::WindowMessage> messages() { return received; }

    FakeClock clock;
    BootloaderEngine engine;
    CHexManager application;
    CBinManager flash{0x40000};
    std::vector<uint8_t> flashBytes;
    UpdateOptions options;
    platform::MessageQueue window;
    std::vector<platform::WindowMessage> received;
    ScriptedUnit unit;
    std::atomic<bool> stop{false};
};

uint32_t lastPosition(const std::vector<platform::WindowMessage>& messages) {
    uint32_t position = 0;
    for (const auto& m : messages) {
        if (m.id == WMU_PROGRESS_POS) position = static_cast<uint32_t>(m.wParam);
    }
    return position;
}

}  // namespace

TEST_F(UpdateTest, FullUpdateWithSequencedBootloader) {
    ASSERT_EQ(update(1, 1, 1), WMU_UPDATE_DONE);
    const std::vector<uint8_t> expected = {0x01, 0x89, 0x82, 0x83, 0x88, 0x85, 0x86,
                                           0x86, 0x86, 0x86, 0x87, 0x8C, 0x84};
    EXPECT_EQ(unit.commands(), expected);
    // Six records: one request of six; the version field is minor then major.
    EXPECT_EQ(unit.received[3].size(), 5u + 7 + 7 + 21 + 21 + 9 + 5);
    EXPECT_EQ(Bytes(unit.received[4].begin() + 5, unit.received[4].end()), (Bytes{12, 0, 1, 0}));
    // The last chunk: its address, length 8 and zero fill after the data.
    const Bytes& last = unit.received[9];
    EXPECT_EQ(Bytes(last.begin() + 5, last.begin() + 13), (Bytes{0xC0, 0x00, 0x04, 0x00, 8, 0, 0, 0}));
    EXPECT_EQ(Bytes(last.begin() + 21, last.end()), Bytes(56, 0));

    auto got = messages();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().id, WMU_UPDATE_DONE);
    // The steps in order, each with the stage value its readers go by.
    std::vector<std::pair<std::wstring, uintptr_t>> steps;
    for (const auto& m : got) {
        if (m.id == WMU_STATUS_TEXT) steps.emplace_back(m.text, m.wParam);
    }
    const std::vector<std::pair<std::wstring, uintptr_t>> expectedSteps = {
        {L"Initializing", 0}, {L"Server Application", 1}, {L"Server UI", 2}, {L"Factory Defaults", 0}};
    EXPECT_EQ(steps, expectedSteps);
    uint32_t range = 0;
    for (const auto& m : got) {
        if (m.id == WMU_PROGRESS_RANGE) range = static_cast<uint32_t>(m.lParam);
    }
    EXPECT_EQ(range, 6u + 200u + 10u);
    EXPECT_EQ(lastPosition(got), range);
}

TEST_F(UpdateTest, PlainBootloaderGetsPlainCommands) {
    unit.version = {0x03, 0x02};
    ASSERT_EQ(update(1, 1, 0), WMU_UPDATE_DONE);
    for (uint8_t command : unit.commands()) EXPECT_FALSE(command & 0x80) << int(command);
}

TEST_F(UpdateTest, UnacceptableVersionsSendNothingMore) {
    for (Bytes version : {Bytes{0x02, 0x09}, Bytes{0x03, 0x03}, Bytes{0x03, 0x01, 0x00, 0x00}}) {
        unit = ScriptedUnit{};
        unit.version = version;
        EXPECT_EQ(update(1, 1, 1), WMU_WRONG_RESPONSE);
        EXPECT_EQ(unit.commands(), std::vector<uint8_t>{0x01});
        auto got = messages();
        EXPECT_EQ(got.back().id, WMU_WRONG_RESPONSE);
    }
}

TEST_F(UpdateTest, SilentBootloaderIsNoResponse) {
    unit.silent.insert(1);
    EXPECT_EQ(update(1, 1, 1), WMU_NO_RESPONSE);
    EXPECT_EQ(unit.count(0x01), 5u);
    EXPECT_EQ(messages().back().id, WMU_NO_RESPONSE);
}

TEST_F(UpdateTest, FailedApplicationEraseStopsEverything) {
    unit.status[2] = 0;
    EXPECT_EQ(update(1, 1, 1), WMU_UPDATE_FAILED);
    EXPECT_EQ(unit.commands(), (std::vector<uint8_t>{0x01, 0x89, 0x82}));
    EXPECT_EQ(messages().back().id, WMU_UPDATE_FAILED);
}

TEST_F(UpdateTest, RefusedRecordOrChunkFailsTheUpdate) {
    unit.status[3] = 0;
    EXPECT_EQ(update(1, 1, 0), WMU_UPDATE_FAILED);
    EXPECT_EQ(unit.count(0x85), 0u);
    unit = ScriptedUnit{};
    unit.status[6] = 0;
    EXPECT_EQ(update(0, 1, 0), WMU_UPDATE_FAILED);
    EXPECT_EQ(unit.count(0x84), 0u);
}

TEST_F(UpdateTest, SilentVersionQueryDoesNotStopTheUpdate) {
    unit.silent.insert(9);
    EXPECT_EQ(update(0, 0, 1), WMU_UPDATE_DONE);
    EXPECT_EQ(unit.count(0x89), 5u);
}

TEST_F(UpdateTest, NoStageSelected) {
    EXPECT_EQ(update(0, 0, 0), WMU_UPDATE_DONE);
    EXPECT_EQ(unit.commands(), (std::vector<uint8_t>{0x01, 0x89, 0x84}));
    auto got = messages();
    bool rangeZero = false;
    for (const auto& m : got) rangeZero |= m.id == WMU_PROGRESS_RANGE && m.lParam == 0;
    EXPECT_TRUE(rangeZero);
}

TEST_F(UpdateTest, OnlyFactoryDefaults) {
    EXPECT_EQ(update(0, 0, 1), WMU_UPDATE_DONE);
    auto got = messages();
    std::vector<uint32_t> positions;
    for (const auto& m : got) {
        if (m.id == WMU_PROGRESS_POS) positions.push_back(static_cast<uint32_t>(m.wParam));
    }
    EXPECT_EQ(positions, std::vector<uint32_t>{10});
}

TEST_F(UpdateTest, ExactlyOneTerminalMessageAndItIsLast) {
    for (int failing : {0, 2, 3, 6, 8}) {
        unit = ScriptedUnit{};
        if (failing) unit.status[static_cast<uint8_t>(failing)] = 0;
        update(1, 1, 1);
        auto got = messages();
        size_t terminals = 0;
        for (const auto& m : got) terminals += isTerminalMessage(m.id);
        EXPECT_EQ(terminals, 1u) << failing;
        EXPECT_TRUE(isTerminalMessage(got.back().id)) << failing;
    }
}

// An image of nothing but its end record would have the unit erased for nothing; so would an
// empty flash image.
TEST_F(UpdateTest, ImagesWithNothingToWriteSendNothing) {
    const std::string endOnly = ":00000001FF\r\n";
    application.loadFromBytes(reinterpret_cast<const unsigned char*>(endOnly.data()), endOnly.size());
    EXPECT_EQ(update(1, 0, 0), WMU_UPDATE_FAILED);
    EXPECT_TRUE(unit.received.empty());
    EXPECT_EQ(messages().back().id, WMU_UPDATE_FAILED);

    flash.loadFromBytes(nullptr, 0);
    EXPECT_EQ(update(0, 1, 0), WMU_UPDATE_FAILED);
    EXPECT_TRUE(unit.received.empty());
}

// Intel HEX text of `records` data records of `size` bytes each, all of `fill` but every other
// record of DLE when `stuffing`, then the end record.
std::string recordsImage(int records, uint8_t size, bool stuffing) {
    std::string text;
    for (int r = 0; r < records; ++r) {
        const uint8_t fill = stuffing && r % 2 ? 0x10 : 0x5A;
        std::vector<uint8_t> record = {size, static_cast<uint8_t>(r), 0x00, 0x00};
        record.insert(record.end(), size, fill);
        uint8_t sum = 0;
        for (uint8_t b : record) sum = static_cast<uint8_t>(sum + b);
        record.push_back(static_cast<uint8_t>(-sum));
        text += ":";
        for (uint8_t b : record) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", b);
            text += pair;
        }
        text += "\r\n";
    }
    return text + ":00000001FF\r\n";
}

// Short records go eight to a request. Records of 251 data bytes, half of them all DLE (each
// sent as two bytes), go fewer to a request, so that every request still fits its frame and
// nothing is refused after the erase.
TEST_F(UpdateTest, RecordsArePackedEightAtATimeAndToFitTheirFrames) {
    const std::string shortRecords = recordsImage(16, 4, false);
    ASSERT_EQ(
        application.loadFromBytes(reinterpret_cast<const unsigned char*>(shortRecords.data()), shortRecords.size()), 1);
    ASSERT_EQ(update(1, 0, 0), WMU_UPDATE_DONE);
    std::vector<size_t> requestBytes;
    for (const Bytes& m : unit.received) {
        if (m[0] == 0x83) requestBytes.push_back(m.size() - 5);
    }
    EXPECT_EQ(requestBytes, (std::vector<size_t>{8 * 9, 8 * 9, 5}));

    unit = ScriptedUnit{};
    const std::string longRecords = recordsImage(20, 251, true);
    ASSERT_EQ(application.loadFromBytes(reinterpret_cast<const unsigned char*>(longRecords.data()), longRecords.size()),
              1);
    ASSERT_EQ(update(1, 0, 0), WMU_UPDATE_DONE);
    size_t recordBytes = 0;
    for (const Bytes& m : unit.received) {
        if (m[0] == 0x83) recordBytes += m.size() - 5;
    }
    EXPECT_EQ(recordBytes, 20u * 256 + 5);
    EXPECT_EQ(lastPosition(messages()), 21u);
}

// A stop asked for mid-stage ends the run before its next request: no later stage and no
// closing command, and the run says it was stopped.
TEST_F(UpdateTest, StopRequestEndsTheRunAtTheNextRequest) {
    unit.afterReceive = [this](const ScriptedUnit& u) {
        if (u.count(0x86) == 2) stop = true;
    };
    UpdateJob job{engine, application, flash, options, &window, L"V1.12"};
    job.stopRequested = &stop;
    options.overwriteServerFirmware = 1;
    options.overwriteServerUi = 1;
    auto transport = std::make_unique<ScriptedTransport>(clock, 10);
    unit.attachTo(*transport);
    uint32_t result = 0;
    pumpWhile(window, [&] { result = runUpdate(job, std::move(transport)); });
    EXPECT_EQ(result, WMU_UPDATE_FAILED);
    EXPECT_TRUE(job.stopped);
    EXPECT_EQ(unit.count(0x86), 2u);
    EXPECT_EQ(unit.count(0x87), 0u);
    EXPECT_EQ(unit.count(0x84), 0u);
}

TEST(FirmwareVersion, ReadsMajorAndMinor) {
    uint8_t minor = 0;
    uint8_t major = 0;
    parseFirmwareVersion(L"V1.12", minor, major);
    EXPECT_EQ(minor, 12);
    EXPECT_EQ(major, 1);
    for (const wchar_t* bad : {L"", L"1.12", L"V1", L"version"}) {
        parseFirmwareVersion(bad, minor, major);
        EXPECT_EQ(minor, 1) << bad;
        EXPECT_EQ(major, 1) << bad;
    }
    parseFirmwareVersion(L"V258.300", minor, major);
    EXPECT_EQ(minor, 300 & 0xFF);
    EXPECT_EQ(major, 258 & 0xFF);
}

class ExitBootloadTest : public ::testing::Test {
protected:
    uint32_t exitRun(LeaveScope scope = LeaveScope::kUpdatable) {
        auto transport = std::make_unique<ScriptedTransport>(clock, 10);
        unit.attachTo(*transport);
        return runExitBootload(engine, &window, std::move(transport), scope);
    }
    FakeClock clock;
    BootloaderEngine engine;
    platform::MessageQueue window;
    ScriptedUnit unit;
};

TEST_F(ExitBootloadTest, SequencedLeaveCarriesSequenceOne) {
    EXPECT_EQ(exitRun(), WMU_BOOTLOAD_EXITED);
    ASSERT_EQ(unit.received.size(), 2u);
    EXPECT_EQ(unit.received[1], (Bytes{0x8B, 0, 0, 0, 1}));
}

TEST_F(ExitBootloadTest, PlainBootloaderGetsPlainLeave) {
    unit.version = {0x03, 0x00};
    EXPECT_EQ(exitRun(), WMU_BOOTLOAD_EXITED);
    EXPECT_EQ(unit.commands(), (std::vector<uint8_t>{0x01, 0x0B}));
}

// Only upgrade, returning a unit it put there itself, tells a bootloader it cannot program to leave.
TEST_F(ExitBootloadTest, UnsupportedVersionLeavesOnlyWhenAnyVersionMay) {
    unit.version = {0x03, 0x03, 0x00};
    EXPECT_EQ(exitRun(), WMU_WRONG_RESPONSE);
    EXPECT_EQ(unit.count(0x0B) + unit.count(0x8B), 0u);
    EXPECT_EQ(exitRun(LeaveScope::kAnyVersion), WMU_BOOTLOAD_EXITED);
    EXPECT_EQ(unit.count(0x8B), 1u);
}

TEST_F(ExitBootloadTest, NoIdentificationMeansNoLeaveCommand) {
    unit.silent.insert(1);
    EXPECT_EQ(exitRun(), WMU_NO_RESPONSE);
    EXPECT_EQ(unit.count(0x0B) + unit.count(0x8B), 0u);
    platform::WindowMessage m;
    ASSERT_TRUE(window.receive(m, 0));
    EXPECT_EQ(m.id, WMU_NO_RESPONSE);
    EXPECT_FALSE(window.receive(m, 0));
}
