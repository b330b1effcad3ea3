// Conversions between the program's wide texts and the 8-bit texts of files, wires and terminals.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

// One wide character per byte: the embedded texts and wire protocols are plain ASCII, and
// this keeps every byte visible instead of failing on a stray one.
std::wstring widenBytes(std::string_view bytes);

}  // namespace platform
