// How people type serial port names versus how the OS opens them ("COM3" and "\\.\COM3").
#pragma once

#include <string>

namespace platform {

// The name to open for a port typed by a person; names already in device form pass unchanged.
std::wstring serialDeviceName(const std::wstring& typed);
// The device a serial name opens, links and dot folders resolved, so that two names of one port
// compare equal; the name itself when it cannot be resolved. Never throws.
std::wstring resolvedSerialDevice(const std::wstring& device);
// The short name to show for a device name.
std::wstring serialDisplayName(const std::wstring& device);

}  // namespace platform
