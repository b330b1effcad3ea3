#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "content/bin_manager.h"

namespace {

constexpr uint32_t kOrigin = 0x40000;

}  // namespace

TEST(FlashImage, EmbeddedImageInChunksOf64) {
    CBinManager image(kOrigin);
    ASSERT_EQ(image.loadFromResource(L"P32_FLASH"), 1);
    ASSERT_EQ(image.imageSize(), 546221u);
    image.rewind();
    uint8_t buffer[64];
    uint32_t address = 0, expected = kOrigin, fullChunks = 0;
    uint16_t length = 0, last = 0;
    while ((length = image.readChunk(buffer, sizeof buffer, address)) != 0) {
        ASSERT_EQ(address, expected);
        expected += length;
        last = length;
        fullChunks += length == 64;
    }
    EXPECT_EQ(fullChunks, 8534u);
    EXPECT_EQ(last, 45u);
    EXPECT_EQ(address, kOrigin + 8534u * 64);
    EXPECT_EQ(image.bytesConsumed(), 546221u);
}

TEST(FlashImage, ShortTailRewindAndRelease) {
    CBinManager image(kOrigin);
    ASSERT_EQ(image.loadFromResource(L"P32_FLASH"), 1);
    uint8_t first[16], again[16], big[1000];
    uint32_t address = 0;
    ASSERT_EQ(image.readChunk(first, sizeof first, address), 16u);
    image.rewind();
    ASSERT_EQ(image.readChunk(again, sizeof again, address), 16u);
    EXPECT_EQ(address, kOrigin);
    EXPECT_EQ(0, memcmp(first, again, sizeof first));

    while (image.imageSize() - image.bytesConsumed() > 300) image.readChunk(big, 1000, address);
    uint32_t left = image.imageSize() - image.bytesConsumed();
    EXPECT_EQ(image.readChunk(big, 1000, address), left);

    EXPECT_TRUE(image.fromResource());
    image.release();
    EXPECT_EQ(image.imageSize(), 0u);
    EXPECT_EQ(image.bytesConsumed(), 0u);
    EXPECT_EQ(image.readChunk(big, 64, address), 0u);
    // The content itself is untouched and loads again.
    EXPECT_EQ(image.loadFromResource(L"P32_FLASH"), 1);
}

TEST(FlashImage, EmptyImageLeavesAddressAlone) {
    CBinManager image(kOrigin);
    uint8_t buffer[64];
    uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(image.readChunk(buffer, sizeof buffer, address), 0u);
    EXPECT_EQ(image.loadFromResource(L"NO_SUCH_IMAGE"), 0);
    EXPECT_EQ(image.readChunk(buffer, sizeof buffer, address), 0u);
    EXPECT_EQ(address, 0xDEADBEEFu);
}

TEST(FlashImage, FileMatchesEmbeddedBytes) {
    CBinManager fromFile(kOrigin), embedded(kOrigin);
    ASSERT_EQ(fromFile.loadFromFile(ZT_SAMPLE_FLASH), 1);
    ASSERT_EQ(embedded.loadFromResource(L"P32_FLASH"), 1);
    EXPECT_FALSE(fromFile.fromResource());
    ASSERT_EQ(fromFile.imageSize(), embedded.imageSize());
    uint8_t a[64], b[64];
    uint32_t addressA = 0, addressB = 0;
    uint16_t length = 0;
    while ((length = fromFile.readChunk(a, 64, addressA)) != 0) {
        ASSERT_EQ(embedded.readChunk(b, 64, addressB), length);
        ASSERT_EQ(0, memcmp(a, b, length));
    }
    EXPECT_EQ(fromFile.loadFromFile(std::filesystem::path(ZT_BINARY_DIR) / "no-such-file.bin"), 0);
    EXPECT_EQ(fromFile.imageSize(), 0u);
    ASSERT_EQ(fromFile.loadFromFile(ZT_SAMPLE_FLASH), 1);
    EXPECT_EQ(fromFile.loadFromFile(ZT_BINARY_DIR), 0) << "a directory is not an image";
    EXPECT_EQ(fromFile.imageSize(), 0u);
}
