// Paths from UTF-8 names, without OS calls.
#include "platform/files.h"

namespace platform {

// A char8_t text is UTF-8 on every system; a char text would be the code page's on Windows.
std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace platform
