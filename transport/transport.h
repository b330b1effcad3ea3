// The byte transport every conversation with a unit goes through: serial, UDP or TCP.
#pragma once

#include <cstdint>

enum class TransportKind { kSerial, kUdp, kTcp };

// A transport is created closed, opened once, used by one thread at a time, closed and deleted.
// A retry at another speed or on another port uses a new object.
class Transport {
public:
    virtual ~Transport() = default;

    // Acquires and configures the OS resource; true when the transport is usable.
    virtual bool open() = 0;
    virtual bool isOpen() { return false; }
    // Releases the OS resource; harmless when already closed.
    virtual bool close() { return true; }
    // Sends all bytes in one call (one datagram over UDP).
    virtual bool write(const uint8_t* data, uint32_t length) = 0;
    // Waits at most the transport's own read time-out; returns the bytes stored, 0 for none.
    virtual uint16_t read(uint8_t* buffer, uint32_t capacity) = 0;
    virtual TransportKind transportKind() = 0;
    // The longest a read waits for its first byte.
    virtual uint32_t readTimeoutMs() const = 0;
    // The kind as shown: "COM", "IP" or "TCP".
    const wchar_t* kind();
    // Waits at most timeoutMs (or the transport's own read time-out, if shorter) for bytes.
    virtual uint16_t readWithin(uint8_t* buffer, uint32_t capacity, uint32_t /*timeoutMs*/) {
        return read(buffer, capacity);
    }
    // Throws away, without waiting, whatever input has already arrived, so that a late or
    // duplicated reply to an earlier request cannot be taken for the reply to the next one.
    // True when there was something to throw away.
    virtual bool discardPendingInput() = 0;

    // Sends a NUL-terminated command-port text and collects a reply from "<" to its last ">".
    // On success `reply` holds that reply, NUL-terminated. Gives up once timeoutMs have
    // passed since the request was sent (timeoutMs 0: exactly one read).
    bool exchangeText(const char* request, char* reply, uint32_t replySize, uint32_t timeoutMs);
};
