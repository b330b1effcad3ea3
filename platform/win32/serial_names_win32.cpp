// "COM10" and above open only through the device namespace, so every typed name goes there.
#include "platform/serial_names.h"

#include <filesystem>
#include <system_error>

namespace platform {

namespace {
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr size_t kDevicePrefixChars = sizeof kDevicePrefix / sizeof kDevicePrefix[0] - 1;
}  // namespace

std::wstring serialDeviceName(const std::wstring& typed) {
    if (typed.rfind(kDevicePrefix, 0) == 0) return typed;
    return kDevicePrefix + typed;
}

// Wide paths are the native ones here, so nothing is converted.
std::wstring resolvedSerialDevice(const std::wstring& device) {
    std::error_code failed;
    const std::filesystem::path real = std::filesystem::canonical(std::filesystem::path(device), failed);
    return failed ? device : real.wstring();
}

std::wstring serialDisplayName(const std::wstring& device) {
    if (device.rfind(kDevicePrefix, 0) == 0) return device.substr(kDevicePrefixChars);
    return device;
}

}  // namespace platform
