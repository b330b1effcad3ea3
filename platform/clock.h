// Millisecond tick counter and sleep, replaceable by a test clock.
#pragma once

#include <cstdint>

namespace platform {

// A 32-bit millisecond counter that wraps at 2^32; compare ticks only through differences.
uint32_t tickCount();
void sleepMs(uint32_t ms);
// A 64-bit microsecond counter on the same clock, for timing replies that take well under a tick.
uint64_t microsecondCount();

inline uint32_t ticksBetween(uint32_t earlier, uint32_t later) { return later - earlier; }
// True when tick a lies after tick b, correct across the counter's wrap.
inline bool tickIsAfter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t now() = 0;
    virtual void sleep(uint32_t ms) = 0;
    virtual uint64_t nowUs() { return static_cast<uint64_t>(now()) * 1000u; }
};

// Routes tickCount and sleepMs through `clock` for the whole process; nullptr restores the
// system clock. The clock must outlive its use.
void setClockForTesting(Clock* clock);

// The system's own counter, whatever clock is installed.
uint32_t systemTickCount();
uint64_t systemMicrosecondCount();
void systemSleepMs(uint32_t ms);

}  // namespace platform
