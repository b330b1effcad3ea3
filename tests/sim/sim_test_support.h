// Building request frames and raw HEX records, and reading reply frames, for the sim tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bootloader/frame_codec.h"

using Bytes = std::vector<uint8_t>;

inline Bytes frameOf(const Bytes& message) {
    Bytes out(2 * message.size() + 8);
    out.resize(encodeFrame(message.data(), message.size(), out.data(), out.size()));
    return out;
}

inline Bytes sequencedMessage(uint8_t command, uint32_t sequence, const Bytes& payload = {}) {
    Bytes message = {command, static_cast<uint8_t>(sequence >> 24), static_cast<uint8_t>(sequence >> 16),
                     static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence)};
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

// A raw record as the updater sends it: count, address, type, data, checksum.
inline Bytes rawRecord(uint8_t type, uint16_t address, const Bytes& data) {
    Bytes record = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address), type};
    record.insert(record.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : record) sum = static_cast<uint8_t>(sum + b);
    record.push_back(static_cast<uint8_t>(-sum));
    return record;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The message of the first good frame in `bytes` (CRC removed), or empty.
inline Bytes replyMessage(const Bytes& bytes) {
    FrameDecoder decoder;
    decoder.feed(bytes.data(), bytes.size());
    if (!decoder.frameComplete()) return {};
    return Bytes(decoder.body(), decoder.body() + decoder.count() - 2);
}
