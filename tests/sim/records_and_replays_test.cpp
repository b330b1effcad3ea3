// Record programming, the duplicate rule for sequenced frames, and replayed record requests.
#include <gtest/gtest.h>

#include "sim/bootloader_unit.h"
#include "sim/intel_hex.h"
#include "tests/sim/sim_test_support.h"

namespace {

BootloaderOutcome run(BootloaderUnit& unit, const Bytes& message) {
    return unit.handleMessage(message.data(), message.size());
}

uint8_t status(const BootloaderOutcome& outcome) { return outcome.message.size() >= 2 ? outcome.message.back() : 0xFF; }

uint8_t at(const BootloaderUnit& unit, uint32_t address) {
    uint8_t value = 0;
    EXPECT_TRUE(unit.applicationMemory().read(address, value)) << std::hex << address;
    return value;
}

// Records before and after a change of extended address, in one request.
Bytes splitRequest() {
    return concat({rawRecord(kDataRecord, 0xFFF0, {0x11, 0x22}), rawRecord(kExtendedLinearRecord, 0, {0x1D, 0x01}),
                   rawRecord(kDataRecord, 0x0000, {0x33})});
}

class SimRecords : public ::testing::Test {
protected:
    void SetUp() override { run(unit, {0x02}); }
    UnitConfig config;
    BootloaderUnit unit{config};
};

TEST_F(SimRecords, ExtendedAddressesCarryAcrossRequestsAndTheEndRecordIsSeen) {
    Bytes first =
        concat({{0x03}, rawRecord(kExtendedLinearRecord, 0, {0x1D, 0x00}), rawRecord(kDataRecord, 0x1000, {1, 2, 3})});
    EXPECT_EQ(status(run(unit, first)), 1);
    EXPECT_EQ(
        status(run(unit, concat({{0x03}, rawRecord(kDataRecord, 0x1003, {4}), rawRecord(kEndOfFileRecord, 0, {})}))),
        1);
    EXPECT_EQ(at(unit, 0x1D001000), 1);
    EXPECT_EQ(at(unit, 0x1D001003), 4);
    EXPECT_EQ(unit.applicationMemory().bytesWritten(), 4u);
    EXPECT_EQ(unit.stats().anomalyCount, 0u);
}

TEST_F(SimRecords, BadChecksumOrTruncatedRecordFailsWithStatusZero) {
    Bytes bad = rawRecord(kDataRecord, 0x0010, {0xAB, 0xCD});
    bad.back() ^= 0x01;
    BootloaderOutcome outcome = run(unit, concat({{0x03}, rawRecord(kDataRecord, 0, {7}), bad}));
    EXPECT_EQ(outcome.message, (Bytes{0x03, 0x00}));
    EXPECT_EQ(at(unit, 0), 7);  // records before the bad one are already stored
    uint8_t unused = 0;
    EXPECT_FALSE(unit.applicationMemory().read(0x10, unused));

    Bytes truncated = rawRecord(kDataRecord, 0x20, {1, 2, 3});
    truncated.pop_back();
    EXPECT_EQ(status(run(unit, concat({{0x03}, truncated}))), 0);
    EXPECT_EQ(status(run(unit, concat({{0x03}, rawRecord(kExtendedLinearRecord, 0, {1})}))), 0);
    EXPECT_EQ(unit.stats().anomalyCount, 3u);
}

TEST_F(SimRecords, CarefulUnitReplaysARepeatedRequestFromItsStartingBase) {
    Bytes request = concat({{0x03}, splitRequest()});
    run(unit, request);
    run(unit, request);  // the updater resends after a lost reply
    EXPECT_EQ(unit.stats().replays, 1u);
    EXPECT_EQ(unit.applicationMemory().bytesWritten(), 3u);
    EXPECT_EQ(at(unit, 0xFFF1), 0x22);
    EXPECT_EQ(at(unit, 0x1D010000), 0x33);
    EXPECT_EQ(unit.stats().anomalyCount, 0u);
}

TEST(SimCarelessReplay, RepeatedRequestWritesTheEarlyRecordsAtTheNewBase) {
    UnitConfig config;
    config.carelessReplay = true;
    BootloaderUnit unit(config);
    run(unit, {0x02});
    Bytes request = concat({{0x03}, splitRequest()});
    run(unit, request);
    run(unit, request);
    EXPECT_EQ(unit.applicationMemory().bytesWritten(), 5u);
    EXPECT_EQ(at(unit, 0x1D01FFF0), 0x11);
}

TEST(SimDuplicates, ByteIdenticalSequencedFrameIsAnsweredAgainWithoutRunning) {
    BootloaderUnit unit(UnitConfig{});
    run(unit, {0x01});
    run(unit, sequencedMessage(0x82, 1));
    Bytes request = sequencedMessage(0x83, 2, splitRequest());
    BootloaderOutcome first = run(unit, request);
    BootloaderOutcome again = run(unit, request);
    EXPECT_EQ(again.message, first.message);
    EXPECT_EQ(again.message, (Bytes{0x83, 0, 0, 0, 2, 1}));
    EXPECT_EQ(unit.stats().duplicates, 1u);
    EXPECT_EQ(unit.stats().replays, 0u);
    EXPECT_EQ(unit.applicationMemory().bytesWritten(), 3u);
    EXPECT_EQ(unit.stats().commandCounts.at("record_program"), 2u);
}

TEST(SimDuplicates, ReusedSequenceWithOtherContentRunsAndIsAnAnomaly) {
    BootloaderUnit unit(UnitConfig{});
    run(unit, {0x01});
    run(unit, sequencedMessage(0x88, 1, {1, 0, 1, 0}));
    BootloaderOutcome outcome = run(unit, sequencedMessage(0x88, 1, {9, 0, 2, 0}));
    EXPECT_EQ(outcome.message, (Bytes{0x88, 0, 0, 0, 1, 1}));
    EXPECT_EQ(unit.applicationMinor(), 9);
    EXPECT_EQ(unit.stats().duplicates, 0u);
    ASSERT_EQ(unit.stats().anomalyCount, 1u);
    EXPECT_NE(unit.stats().anomalies[0].find("reused"), std::string::npos);
}

TEST(SimDuplicates, CommandOneForgetsTheLastFrame) {
    BootloaderUnit unit(UnitConfig{});
    run(unit, {0x01});
    Bytes write = sequencedMessage(0x88, 1, {3, 0, 1, 0});
    run(unit, write);
    run(unit, {0x01});
    run(unit, write);
    EXPECT_EQ(unit.stats().duplicates, 0u);
    EXPECT_EQ(unit.stats().commandCounts.at("version_write"), 2u);
    EXPECT_EQ(unit.stats().anomalyCount, 0u);
}

TEST(SimDuplicates, SkippedSequenceNumberIsAnAnomaly) {
    BootloaderUnit unit(UnitConfig{});
    run(unit, sequencedMessage(0x81, 1));
    run(unit, sequencedMessage(0x89, 2));
    run(unit, sequencedMessage(0x89, 4));
    EXPECT_EQ(unit.stats().anomalyCount, 1u);
}

}  // namespace
