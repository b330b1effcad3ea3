// Default alert (POSIX): one line on standard error.
#include <cstdio>

#include "platform/alert.h"
#include "platform/text.h"

namespace platform {

void defaultAlert(const wchar_t* text, const wchar_t* caption) {
    std::fprintf(stderr, "%s: %s\n", toUtf8(caption).c_str(), toUtf8(text).c_str());
}

}  // namespace platform
