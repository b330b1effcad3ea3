// String table (Windows): LoadStringW from the program's own module.
#include <windows.h>

#include "platform/string_table.h"

namespace platform {

bool loadStringResource(unsigned id, wchar_t* buffer, int size) {
    if (size <= 0) return false;
    buffer[0] = L'\0';
    return LoadStringW(GetModuleHandleW(nullptr), id, buffer, size) > 0;
}

}  // namespace platform
