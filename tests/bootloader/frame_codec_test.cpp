// Frame format and decoder: the wire examples and one case per kind of damage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootloader/crc16.h"
#include "bootloader/frame_codec.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes encode(const Bytes& message) {
    uint8_t out[kFrameBufferSize];
    size_t n = encodeFrame(message.data(), message.size(), out, sizeof out);
    return Bytes(out, out + n);
}

Bytes body(const FrameDecoder& decoder) { return Bytes(decoder.body(), decoder.body() + decoder.count()); }

}  // namespace

TEST(Crc16, StandardCheckValueAndEmptyInput) {
    const std::string digits = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const uint8_t*>(digits.data()), 9), 0x31C3);
    EXPECT_EQ(crc16(nullptr, 0), 0x0000);
    const uint8_t one = 0x01;
    EXPECT_EQ(crc16(&one, 1), 0x1021);
}

TEST(FrameEncoding, StuffsControlBytesInMessageAndCrc) {
    EXPECT_EQ(encode({0x01}), (Bytes{0x01, 0x10, 0x01, 0x21, 0x10, 0x10, 0x04}));
    EXPECT_EQ(encode({0x0D}), (Bytes{0x01, 0x0D, 0xAD, 0xD1, 0x04}));
    EXPECT_EQ(encode({0x89, 0x00, 0x00, 0x00, 0x01}),
              (Bytes{0x01, 0x89, 0x00, 0x00, 0x00, 0x10, 0x01, 0x8D, 0x9A, 0x04}));
}

TEST(FrameEncoding, RefusesFrameThatDoesNotFit) {
    Bytes message(1100, 0x10);  // every byte doubles when stuffed
    uint8_t out[kFrameBufferSize];
    EXPECT_EQ(encodeFrame(message.data(), message.size(), out, sizeof out), 0u);
    Bytes fits(1000, 0x10);
    EXPECT_GT(encodeFrame(fits.data(), fits.size(), out, sizeof out), 2000u);
}

TEST(FrameDecoding, RoundTripsEveryByteValue) {
    Bytes message;
    for (int b = 0; b < 256; ++b) message.push_back(static_cast<uint8_t>(b));
    Bytes frame = encode(message);
    FrameDecoder decoder;
    decoder.feed(frame.data(), frame.size());
    ASSERT_TRUE(decoder.frameComplete());
    Bytes got = body(decoder);
    got.resize(got.size() - 2);
    EXPECT_EQ(got, message);
}

TEST(FrameDecoding, EscapeSplitAcrossReads) {
    Bytes frame = encode({0x03, 0x10, 0x22});
    FrameDecoder decoder;
    // Cut right after the DLE that escapes 0x10.
    size_t cut = 3;
    ASSERT_EQ(frame[cut - 1], kDle);
    decoder.feed(frame.data(), cut);
    EXPECT_FALSE(decoder.frameComplete());
    decoder.feed(frame.data() + cut, frame.size() - cut);
    ASSERT_TRUE(decoder.frameComplete());
    EXPECT_EQ(decoder.body()[1], 0x10);
}

TEST(FrameDecoding, EscapedSohAndEotAreData) {
    Bytes frame = encode({0x03, 0x01, 0x04, 0x07});
    FrameDecoder decoder;
    decoder.feed(frame.data(), frame.size());
    ASSERT_TRUE(decoder.frameComplete());
    EXPECT_EQ(decoder.count(), 6);
    EXPECT_EQ(decoder.body()[1], 0x01);
    EXPECT_EQ(decoder.body()[2], 0x04);
}

TEST(FrameDecoding, BadCrcThenGoodFrame) {
    Bytes bad = encode({0x02, 0x01});
    bad[bad.size() - 2] ^= 0x55;
    Bytes good = encode({0x02, 0x01});
    Bytes stream = bad;
    stream.insert(stream.end(), good.begin(), good.end());
    FrameDecoder decoder;
    EXPECT_EQ(decoder.feed(stream.data(), stream.size()), stream.size());
    ASSERT_TRUE(decoder.frameComplete());
    Bytes got = body(decoder);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], 0x02);
    EXPECT_EQ(got[1], 0x01);
}

TEST(FrameDecoding, GarbageBeforeSohIsDropped) {
    Bytes stream = {0x55, 0x66, 0x04, 0x77};
    Bytes frame = encode({0x09, 0x05, 0x00});
    stream.insert(stream.end(), frame.begin(), frame.end());
    FrameDecoder decoder;
    decoder.feed(stream.data(), stream.size());
    ASSERT_TRUE(decoder.frameComplete());
    EXPECT_EQ(decoder.body()[0], 0x09);
    EXPECT_EQ(decoder.count(), 5);
}

TEST(FrameDecoding, StopsAfterFirstFrameAndReportsWhatItConsumed) {
    Bytes first = encode({0x02, 0x01});
    Bytes second = encode({0x05, 0x01});
    Bytes stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    FrameDecoder decoder;
    EXPECT_EQ(decoder.feed(stream.data(), stream.size()), first.size());
    EXPECT_EQ(decoder.body()[0], 0x02);
    decoder.clearFrameComplete();
    decoder.feed(stream.data() + first.size(), second.size());
    ASSERT_TRUE(decoder.frameComplete());
    EXPECT_EQ(decoder.body()[0], 0x05);
}

TEST(FrameDecoding, LongestBodyCompletesOneMoreDoesNot) {
    for (size_t bodyLength : {size_t{2045}, size_t{2046}}) {
        Bytes message(bodyLength - 2, 0x33);
        const uint16_t crc = crc16(message.data(), static_cast<uint32_t>(message.size()));
        Bytes frame = {kSoh};
        frame.insert(frame.end(), message.begin(), message.end());
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        frame.push_back(kEot);
        FrameDecoder decoder;
        decoder.feed(frame.data(), frame.size());
        EXPECT_EQ(decoder.frameComplete(), bodyLength == 2045) << bodyLength;
    }
}

TEST(FrameDecoding, CrcOfNothingIsNotAFrame) {
    Bytes stream = {kSoh, 0x00, 0x00, kEot};
    FrameDecoder decoder;
    decoder.feed(stream.data(), stream.size());
    EXPECT_FALSE(decoder.frameComplete());
}
