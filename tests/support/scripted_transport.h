// A transport whose reads are scripted by the test and whose writes are captured.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "transport/transport.h"

using Bytes = std::vector<uint8_t>;

// What the test sees, kept alive after the engine has deleted the transport.
struct ScriptLog {
    std::vector<Bytes> writes;
    std::vector<uint32_t> writeTimes;
    int reads = 0;
    int discards = 0;
    bool opened = false;
    bool closed = false;
    bool deleted = false;
};

class ScriptedTransport : public Transport {
public:
    // Reads that find nothing advance `clock` by readTimeoutMs; reads that find bytes by 1 ms.
    ScriptedTransport(FakeClock& clock, uint32_t readTimeoutMs, TransportKind kind = TransportKind::kUdp);
    ~ScriptedTransport() override;

    bool open() override;
    bool isOpen() override { return open_; }
    bool close() override;
    bool write(const uint8_t* data, uint32_t length) override;
    uint16_t read(uint8_t* buffer, uint32_t capacity) override;
    uint16_t readWithin(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    TransportKind transportKind() override { return kind_; }
    uint32_t readTimeoutMs() const override { return readTimeoutMs_; }
    bool discardPendingInput() override;

    // The next read returns these bytes (as many as fit; the rest stays for the one after).
    void queueRead(Bytes bytes) { reads_.push_back({0, std::move(bytes)}); }
    // The bytes arrive at clock time atMs: a read waiting then returns them, as a serial line
    // hands over a reply in the pieces its driver happens to cut.
    void queueReadAt(uint32_t atMs, Bytes bytes) { reads_.push_back({atMs, std::move(bytes)}); }
    // Called after every write, typically to queue the reply to it.
    std::function<void(ScriptedTransport&, const Bytes& written)> onWrite;

    bool openSucceeds = true;
    bool writeSucceeds = true;
    std::shared_ptr<ScriptLog> log = std::make_shared<ScriptLog>();

private:
    FakeClock& clock_;
    uint32_t readTimeoutMs_;
    TransportKind kind_;
    bool open_ = false;
    struct Arrival {
        uint32_t atMs;
        Bytes bytes;
    };
    std::deque<Arrival> reads_;
};

Bytes bytesOf(const std::string& text);
