// System clock (POSIX): CLOCK_MONOTONIC in milliseconds.
#include <time.h>

#include "platform/clock.h"

namespace platform {

namespace {
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kUsPerSecond = 1000 * kMsPerSecond;
constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kNsPerMs = 1000 * kNsPerUs;
}  // namespace

uint32_t systemTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * kMsPerSecond + static_cast<uint64_t>(ts.tv_nsec) / kNsPerMs;
    return static_cast<uint32_t>(ms);
}

uint64_t systemMicrosecondCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * kUsPerSecond + static_cast<uint64_t>(ts.tv_nsec) / kNsPerUs;
}

void systemSleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / kMsPerSecond), static_cast<long>(ms % kMsPerSecond * kNsPerMs)};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace platform
