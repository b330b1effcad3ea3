// Serial ports are device paths on POSIX; people type them as they are.
#include "platform/serial_names.h"

#include <cstdlib>

#include "platform/text.h"

namespace platform {

std::wstring serialDeviceName(const std::wstring& typed) { return typed; }
std::wstring serialDisplayName(const std::wstring& device) { return device; }

// By the UTF-8 bytes, as the port is opened: std::filesystem would convert a wide name through
// the C locale and throw on any character outside ASCII.
std::wstring resolvedSerialDevice(const std::wstring& device) {
    const std::string name = toUtf8(device);
    char* resolved = realpath(name.c_str(), nullptr);
    if (!resolved) return device;
    std::wstring real = fromUtf8(resolved);
    std::free(resolved);
    return real;
}

}  // namespace platform
