// The strict checker for outside HEX files: each kind of damage is named with its line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "content/hex_check.h"

namespace {

HexCheckResult check(const std::string& text) {
    HexCheckResult result;
    checkHexText(reinterpret_cast<const uint8_t*>(text.data()), text.size(), result);
    return result;
}

const std::string kLinear = ":020000041D00DD\n";
const std::string kData = ":0400000001020304F2\n";
const std::string kDataNext = ":0400040005060708DE\n";
const std::string kEnd = ":00000001FF\n";

}  // namespace

TEST(HexCheck, WellFormedFileGivesRecordsAndMergedRanges) {
    const HexCheckResult r = check(kLinear + kData + kDataNext + ":02001000AABB89\r\n" + kEnd);
    EXPECT_EQ(r.problem, HexProblem::kNone);
    EXPECT_EQ(r.records, 5u);
    EXPECT_EQ(r.dataRecords, 3u);
    EXPECT_EQ(r.dataBytes, 10u);
    ASSERT_EQ(r.ranges.size(), 2u);
    EXPECT_EQ(r.ranges[0].first, 0x1D000000u);
    EXPECT_EQ(r.ranges[0].last, 0x1D000007u);
    EXPECT_EQ(r.ranges[1].first, 0x1D000010u);
}

TEST(HexCheck, BlankLinesAndMissingFinalLineEndAreAccepted) {
    EXPECT_EQ(check("\n" + kData + "\r\n\r\n:00000001FF").problem, HexProblem::kNone);
}

TEST(HexCheck, EachKindOfDamageIsNamedWithItsLine) {
    struct Case {
        std::string text;
        HexProblem problem;
        uint32_t line;
    };
    const Case cases[] = {
        {kData + "0400000001020304F2\n" + kEnd, HexProblem::kSyntax, 2},
        {kData + ":0400000001020304F\n" + kEnd, HexProblem::kSyntax, 2},
        {kData + ":04000000010203G4F2\n" + kEnd, HexProblem::kSyntax, 2},
        {kData + ":0500000001020304F1\n" + kEnd, HexProblem::kByteCount, 2},
        {kData + ":0000\n" + kEnd, HexProblem::kByteCount, 2},
        {kData + kDataNext.substr(0, 17) + "DB\n" + kEnd, HexProblem::kChecksum, 2},
        {kData + ":00000006FA\n" + kEnd, HexProblem::kRecordType, 2},
        {kData + ":0100000401FA\n" + kEnd, HexProblem::kByteCount, 2},
        {kData + ":01000001AA54\n", HexProblem::kByteCount, 2},
        {kData + kDataNext, HexProblem::kNoEndRecord, 0},
        {kData + kEnd + kDataNext, HexProblem::kDataAfterEnd, 3},
        {kData + kEnd + kEnd, HexProblem::kDataAfterEnd, 3},
    };
    for (const Case& c : cases) {
        const HexCheckResult r = check(c.text);
        EXPECT_EQ(r.problem, c.problem) << c.text;
        EXPECT_EQ(r.line, c.line) << c.text;
    }
}

TEST(HexCheck, RecordTooLongForTheUpdaterIsRefused) {
    // 252 data bytes make a 257-byte record, one more than a program request's record holds.
    std::string line = ":FC000000";
    uint8_t sum = 0xFC;
    for (int i = 0; i < 252; ++i) line += "00";
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", static_cast<uint8_t>(-sum));
    line += checksum;
    EXPECT_EQ(check(line + "\n" + kEnd).problem, HexProblem::kTooLong);
}

TEST(HexCheck, EmptyTextAndEmptyFlashImage) {
    EXPECT_EQ(check("").problem, HexProblem::kNoEndRecord);
    HexCheckResult r;
    EXPECT_FALSE(checkFlashImage(0, r));
    EXPECT_EQ(r.problem, HexProblem::kEmptyImage);
    EXPECT_TRUE(checkFlashImage(1, r));
}
