// System clock (Windows): GetTickCount and Sleep; the performance counter for microseconds.
#include <windows.h>

#include "platform/clock.h"

namespace platform {

uint32_t systemTickCount() { return GetTickCount(); }

uint64_t systemMicrosecondCount() {
    LARGE_INTEGER frequency{}, count{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    const auto perSecond = static_cast<uint64_t>(frequency.QuadPart);
    const auto ticks = static_cast<uint64_t>(count.QuadPart);
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

void systemSleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace platform
