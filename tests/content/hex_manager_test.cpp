#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "content/hex_manager.h"
#include "text_bytes.h"

namespace {

std::vector<uint8_t> next(CHexManager& image) {
    uint8_t buffer[CHexManager::kMaxRecordBytes];
    uint16_t length = image.nextRecord(buffer, sizeof buffer);
    return std::vector<uint8_t>(buffer, buffer + length);
}

using Bytes = std::vector<uint8_t>;

}  // namespace

TEST(HexDecode, RecordsKeepEveryByteInFileOrder) {
    CHexManager image;
    ASSERT_EQ(loadText(image, ":020000041d00dd\r\n:10000000ABcdEF\r\n:00000001FF\r\n"), 1);
    EXPECT_EQ(image.recordCount(), 3u);
    EXPECT_EQ(image.recordBytes(), 7u + 7u + 5u);
    image.rewind();
    EXPECT_EQ(next(image), (Bytes{0x02, 0x00, 0x00, 0x04, 0x1D, 0x00, 0xDD}));
    // Count, checksum and type are not checked: a short, wrongly summed line is kept as is.
    EXPECT_EQ(next(image), (Bytes{0x10, 0x00, 0x00, 0x00, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(next(image), (Bytes{0x00, 0x00, 0x00, 0x01, 0xFF}));
    EXPECT_TRUE(next(image).empty());
    EXPECT_EQ(image.recordsHandedOut(), 3u);
}

TEST(HexDecode, IncompletePairsAndEmptyLines) {
    CHexManager image;
    ASSERT_EQ(loadText(image, ":\r\n:0\r\n:0102a\r\nX0A\r\n"), 1);
    ASSERT_EQ(image.recordCount(), 2u);
    image.rewind();
    EXPECT_EQ(next(image), (Bytes{0x01, 0x02}));
    // The first character is skipped whatever it is.
    EXPECT_EQ(next(image), (Bytes{0x0A}));

    CHexManager leadingEnd;
    ASSERT_EQ(loadText(leadingEnd, "\r\n:00\r\n"), 1);
    EXPECT_EQ(leadingEnd.recordCount(), 1u);
}

TEST(HexDecode, BadInputFailsAndLeavesImageEmpty) {
    const std::string longest = ":" + std::string(2 * CHexManager::kMaxRecordBytes, 'a') + "\n";
    const std::string tooLong = ":" + std::string(2 * CHexManager::kMaxRecordBytes + 2, 'a') + "\n";
    const std::string overlongLine = ":" + std::string(1024, '0') + "\n";
    for (const std::string& bad :
         {std::string(":0g\n"), std::string(":00 0\n"), std::string(":0\xe9\n"), tooLong, overlongLine}) {
        CHexManager image;
        ASSERT_EQ(loadText(image, ":00000001FF\n"), 1);
        EXPECT_EQ(loadText(image, ":0102\n" + bad + ":0304\n"), 0) << bad.substr(0, 12);
        EXPECT_EQ(image.recordCount(), 0u);
        image.rewind();
        EXPECT_TRUE(next(image).empty());
    }
    CHexManager image;
    ASSERT_EQ(loadText(image, longest), 1);
    image.rewind();
    EXPECT_EQ(next(image).size(), CHexManager::kMaxRecordBytes);
}

TEST(HexCursor, NothingBeforeRewindAndNoMoveWithoutRoom) {
    CHexManager image;
    ASSERT_EQ(loadText(image, ":020000041d00dd\n:00000001FF\n"), 1);
    EXPECT_TRUE(next(image).empty());
    image.rewind();
    uint8_t small[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(image.nextRecord(small, sizeof small), 0u);
    EXPECT_EQ(small[0], 0xEE);
    EXPECT_EQ(image.recordsHandedOut(), 0u);
    EXPECT_EQ(next(image).size(), 7u);
}

TEST(EmbeddedHex, EveryRecordOnceThenNothing) {
    CHexManager image;
    ASSERT_EQ(image.loadApplication(L"P32_APPLICATION"), 1);
    // Loading again replaces the records rather than adding a second copy.
    ASSERT_EQ(image.loadApplication(L"P32_APPLICATION"), 1);
    ASSERT_EQ(image.recordCount(), 31710u);
    EXPECT_LE(image.storageBytes(), image.recordBytes() * 3 / 2);

    for (int pass = 0; pass < 2; ++pass) {
        image.rewind();
        uint8_t buffer[CHexManager::kMaxRecordBytes];
        uint32_t records = 0, dataRecords = 0, addressRecords = 0;
        uint16_t length = 0, last = 0;
        while ((length = image.nextRecord(buffer, sizeof buffer)) != 0) {
            ++records;
            last = length;
            ASSERT_EQ(length, buffer[0] + 5u);
            dataRecords += buffer[3] == 0x00;
            addressRecords += buffer[3] == 0x04;
        }
        EXPECT_EQ(records, 31710u);
        EXPECT_EQ(dataRecords, 27144u);
        EXPECT_EQ(addressRecords, 4565u);
        EXPECT_EQ(last, 5u);
        EXPECT_EQ(buffer[3], 0x01);
        EXPECT_EQ(image.recordsHandedOut(), image.recordCount());
    }
}

// The update packs up to 8 records a program request.
TEST(EmbeddedHex, PackingEightRecordsARequest) {
    CHexManager image;
    ASSERT_EQ(image.loadApplication(L"P32_APPLICATION"), 1);
    image.rewind();
    uint8_t buffer[CHexManager::kMaxRecordBytes];
    uint32_t requests = 0, inLast = 0;
    for (;;) {
        uint32_t inRequest = 0;
        while (inRequest < 8 && image.nextRecord(buffer, sizeof buffer) != 0) ++inRequest;
        if (inRequest == 0) break;
        ++requests;
        inLast = inRequest;
    }
    EXPECT_EQ(requests, 3964u);
    EXPECT_EQ(inLast, 6u);
}

TEST(EmbeddedHex, FileGivesTheSameRecordsAndFailuresLeaveImageEmpty) {
    CHexManager embedded, fromFile;
    ASSERT_EQ(embedded.loadApplication(L"P32_APPLICATION"), 1);
    ASSERT_EQ(fromFile.loadFromFile(ZT_SAMPLE_HEX), 1);
    ASSERT_EQ(fromFile.recordCount(), embedded.recordCount());
    embedded.rewind();
    fromFile.rewind();
    for (uint32_t i = 0; i < embedded.recordCount(); ++i) ASSERT_EQ(next(fromFile), next(embedded));

    EXPECT_EQ(embedded.loadApplication(L"NO_SUCH_IMAGE"), 0);
    EXPECT_EQ(embedded.recordCount(), 0u);
    EXPECT_EQ(fromFile.loadFromFile(ZT_BINARY_DIR), 0);
    EXPECT_EQ(fromFile.recordCount(), 0u);
}
