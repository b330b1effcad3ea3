// Serial ports are device paths on POSIX; people type them as they are.
#include "platform/serial_names.h"

namespace platform {

std::wstring serialDeviceName(const std::wstring& typed) { return typed; }
std::wstring serialDisplayName(const std::wstring& device) { return device; }

}  // namespace platform
