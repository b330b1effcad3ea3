// Frame encoding and the byte-at-a-time decoder.
#include "bootloader/frame_codec.h"

#include "bootloader/crc16.h"

namespace {

inline bool needsEscape(uint8_t b) { return b == kSoh || b == kEot || b == kDle; }

// Appends one body byte, stuffed; false when it does not fit.
inline bool appendStuffed(uint8_t b, uint8_t* out, size_t capacity, size_t& used) {
    size_t need = needsEscape(b) ? 2 : 1;
    if (used + need > capacity) return false;
    if (need == 2) out[used++] = kDle;
    out[used++] = b;
    return true;
}

}  // namespace

size_t encodeFrame(const uint8_t* message, size_t length, uint8_t* out, size_t capacity) {
    if (capacity < 2) return 0;
    uint16_t crc = crc16(message, static_cast<uint32_t>(length));
    size_t used = 0;
    out[used++] = kSoh;
    for (size_t i = 0; i < length; ++i) {
        if (!appendStuffed(message[i], out, capacity, used)) return 0;
    }
    if (!appendStuffed(static_cast<uint8_t>(crc & 0xFF), out, capacity, used)) return 0;
    if (!appendStuffed(static_cast<uint8_t>(crc >> 8), out, capacity, used)) return 0;
    if (used + 1 > capacity) return 0;
    out[used++] = kEot;
    return used;
}

void FrameDecoder::reset() {
    count_ = 0;
    frameComplete_ = false;
    escapePending_ = false;
}

size_t FrameDecoder::feed(const uint8_t* bytes, size_t count) {
    size_t i = 0;
    while (i < count && !frameComplete_) {
        uint8_t c = bytes[i++];
        // An over-long body is dropped whole; its frame can never complete.
        if (count_ >= kReceiveLimit) count_ = 0;
        if (escapePending_ || !needsEscape(c)) {
            body_[count_++] = c;
            escapePending_ = false;
        } else if (c == kSoh) {
            count_ = 0;
        } else if (c == kDle) {
            escapePending_ = true;
        } else {
            endOfFrame();
        }
    }
    return i;
}

// A body needs at least one message byte and a matching CRC; otherwise the bytes stay until
// the next SOH discards them.
void FrameDecoder::endOfFrame() {
    if (count_ <= 2) return;
    uint16_t received = static_cast<uint16_t>(body_[count_ - 2] | (body_[count_ - 1] << 8));
    if (received == crc16(body_, count_ - 2u)) frameComplete_ = true;
}
