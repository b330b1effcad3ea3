// CRC-16/XMODEM a nibble at a time: entry i is the CRC of the 4-bit value i.
#include "bootloader/crc16.h"

namespace {

constexpr uint16_t kNibbleTable[16] = {
    0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7,
    0x8108, 0x9129, 0xA14A, 0xB16B, 0xC18C, 0xD1AD, 0xE1CE, 0xF1EF,
};

inline uint16_t stepNibble(uint16_t r, uint8_t nibble) {
    return static_cast<uint16_t>(kNibbleTable[(r >> 12) ^ nibble] ^ (r << 4));
}

}  // namespace

uint16_t crc16(const uint8_t* data, uint32_t length) {
    uint16_t r = 0;
    for (uint32_t i = 0; i < length; ++i) {
        r = stepNibble(r, static_cast<uint8_t>(data[i] >> 4));
        r = stepNibble(r, static_cast<uint8_t>(data[i] & 0x0F));
    }
    return r;
}
