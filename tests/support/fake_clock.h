// A test clock that moves only when code sleeps or a fake transport waits.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

class FakeClock : public platform::Clock {
public:
    // Installs itself for the process while it lives.
    explicit FakeClock(uint32_t start = 1000) : now_(start) { platform::setClockForTesting(this); }
    ~FakeClock() override { platform::setClockForTesting(nullptr); }

    uint32_t now() override { return now_.load(); }
    void sleep(uint32_t ms) override { now_ += ms; }
    void advance(uint32_t ms) { now_ += ms; }

private:
    std::atomic<uint32_t> now_;
};
