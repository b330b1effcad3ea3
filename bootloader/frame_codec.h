// Bootloader frames on the wire.
//
// Frame is SOH, body, EOT. Body is the message (command byte, [4-byte sequence], payload)
// followed by its CRC-16 low byte then high byte. Every body byte equal to SOH, EOT or DLE is
// sent as DLE and the byte itself; SOH and EOT as markers are never stuffed.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kDle = 0x10;

constexpr size_t kFrameBufferSize = 2048;
// A body (message and CRC) of this many bytes or more never completes.
constexpr uint16_t kReceiveLimit = 2046;

// Writes the stuffed frame of `message` into `out`. Returns its length, or 0 (nothing usable
// written) when the frame would not fit `capacity` bytes.
size_t encodeFrame(const uint8_t* message, size_t length, uint8_t* out, size_t capacity);

// The receive side: turns any stream of bytes back into one frame with a good CRC.
class FrameDecoder {
public:
    // Decodes bytes in order until a frame completes; returns how many were consumed, so the
    // caller can keep the rest for later.
    size_t feed(const uint8_t* bytes, size_t count);

    bool frameComplete() const { return frameComplete_; }
    // Lets decoding continue after a completed frame has been read.
    void clearFrameComplete() { frameComplete_ = false; }
    // Drops a partial frame and any pending escape.
    void reset();

    // The received body: message then its two CRC bytes; count() includes the CRC.
    uint8_t* body() { return body_; }
    const uint8_t* body() const { return body_; }
    uint16_t count() const { return count_; }
    void setCount(uint16_t count) { count_ = count; }

private:
    void endOfFrame();

    uint8_t body_[kFrameBufferSize] = {};
    uint16_t count_ = 0;
    bool frameComplete_ = false;
    bool escapePending_ = false;
};
