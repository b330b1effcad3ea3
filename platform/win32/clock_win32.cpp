// System clock (Windows): GetTickCount and Sleep.
#include <windows.h>

#include "platform/clock.h"

namespace platform {

uint32_t systemTickCount() { return GetTickCount(); }

void systemSleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace platform
