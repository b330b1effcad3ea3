// Shared pieces of the fuzz targets: a byte reader over the fuzzer's input, a transport that
// plays it back, and a stop on a broken invariant that the fuzzer records as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/support/fake_clock.h"
#include "transport/transport.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Takes the input from the front: single bytes for choices, runs of bytes for payloads.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return used_ >= size_; }
    size_t remaining() const { return size_ - used_; }
    uint8_t byte() { return empty() ? 0 : data_[used_++]; }
    // Up to `count` bytes, as a vector of exactly the bytes taken.
    std::vector<uint8_t> take(size_t count) {
        if (count > remaining()) count = remaining();
        std::vector<uint8_t> out(data_ + used_, data_ + used_ + count);
        used_ += count;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// Every read returns the next run of fuzzer bytes (a length byte, then that many bytes), or
// nothing once the input is used up. An empty read costs the clock `readTimeoutMs`, so every
// wait of the code under test ends.
class FuzzTransport : public Transport {
public:
    FuzzTransport(FuzzInput& input, FakeClock& clock, uint32_t readTimeoutMs, TransportKind kind)
        : input_(input), clock_(clock), readTimeoutMs_(readTimeoutMs), kind_(kind) {}

    bool open() override { return open_ = true; }
    bool isOpen() override { return open_; }
    bool close() override {
        open_ = false;
        return true;
    }
    bool write(const uint8_t*, uint32_t) override {
        ++writes;
        return true;
    }
    uint16_t read(uint8_t* buffer, uint32_t capacity) override;
    TransportKind transportKind() override { return kind_; }
    uint32_t readTimeoutMs() const override { return readTimeoutMs_; }
    bool discardPendingInput() override { return false; }

    // Replies this transport hands out whole, before the raw runs, when a test wants them.
    std::vector<std::vector<uint8_t>> scripted;
    int writes = 0;

private:
    FuzzInput& input_;
    FakeClock& clock_;
    uint32_t readTimeoutMs_;
    TransportKind kind_;
    bool open_ = false;
};
