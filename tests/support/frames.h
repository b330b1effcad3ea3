// Building and taking apart bootloader frames in tests.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The stuffed frame of a message.
Bytes wireFrame(const Bytes& message);
// The unstuffed message of a frame, CRC removed; empty when the frame does not decode.
Bytes messageOf(const Bytes& frame);
// The sequence number a sequenced frame carries.
uint32_t sequenceOf(const Bytes& frame);
// The reply a unit gives to `request`: its command byte, its sequence if it has one, payload.
Bytes replyFrame(const Bytes& request, const Bytes& payload);
Bytes replyFrameWithSequence(const Bytes& request, uint32_t sequence, const Bytes& payload);
