// The strict checker for outside HEX files: each kind of damage is named with its line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "content/hex_check.h"
#include "content/hex_manager.h"

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
        {kEnd, HexProblem::kNoDataRecords, 0},
        {kLinear + ":0000000000\n" + kEnd, HexProblem::kNoDataRecords, 0},
        {kData + ":0400040005060708DE  \n" + kEnd, HexProblem::kSyntax, 2},
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

// What passes is what loads, line ends or not: the records the update sends are the ones counted.
TEST(HexCheck, PassingTextLoadsRecordForRecord) {
    for (const std::string& text : {kLinear + kData + ":00000001FF", "\r\n" + kData + "\n\n" + kEnd}) {
        const HexCheckResult r = check(text);
        ASSERT_EQ(r.problem, HexProblem::kNone) << text;
        CHexManager image;
        ASSERT_EQ(image.loadFromFileBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 1);
        EXPECT_EQ(image.recordCount(), r.records) << text;
    }
}

TEST(HexCheck, EmptyTextAndFlashImagesThatCannotBeWebContent) {
    EXPECT_EQ(check("").problem, HexProblem::kNoEndRecord);
    // Sizes beyond the buffer are safe here: past the size checks only its first line is read.
    const uint8_t web[] = {0x1F, 0x8B, '\n', ':', '0'};
    HexCheckResult r;
    EXPECT_FALSE(checkFlashImage(web, 0, 0x40000, r));
    EXPECT_EQ(r.problem, HexProblem::kEmptyImage);
    EXPECT_TRUE(checkFlashImage(web, sizeof web, 0x40000, r));
    // The last chunk may end exactly at the top of the 32-bit space, not one byte beyond.
    EXPECT_TRUE(checkFlashImage(web, 0xFFFC0000u, 0x40000, r));
    EXPECT_FALSE(checkFlashImage(web, 0xFFFC0001u, 0x40000, r));
    EXPECT_EQ(r.problem, HexProblem::kBeyondAddresses);

    const std::string hexText = kData + kEnd;
    EXPECT_FALSE(checkFlashImage(reinterpret_cast<const uint8_t*>(hexText.data()), hexText.size(), 0x40000, r));
    EXPECT_EQ(r.problem, HexProblem::kHexTextAsFlash);
    const std::string colonText = ":not a record\n";
    EXPECT_TRUE(checkFlashImage(reinterpret_cast<const uint8_t*>(colonText.data()), colonText.size(), 0x40000, r));
}
