// Dispatch between the system clock and an installed test clock.
#include "platform/clock.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Clock*> installedClock{nullptr};
}

void setClockForTesting(Clock* clock) { installedClock.store(clock); }

uint32_t tickCount() {
    Clock* clock = installedClock.load();
    return clock ? clock->now() : systemTickCount();
}

uint64_t microsecondCount() {
    Clock* clock = installedClock.load();
    return clock ? clock->nowUs() : systemMicrosecondCount();
}

void sleepMs(uint32_t ms) {
    Clock* clock = installedClock.load();
    if (clock) {
        clock->sleep(ms);
    } else {
        systemSleepMs(ms);
    }
}

}  // namespace platform
