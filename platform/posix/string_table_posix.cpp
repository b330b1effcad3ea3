// String table (portable build): the same definitions the Windows resource script is made from.
#include <cwchar>

#include "platform/string_table.h"

namespace platform {

namespace {

struct StringEntry {
    unsigned id;
    const wchar_t* text;
};

#define UI_STRING(name, id, text) {id, L"" text},
#define UI_STRING_UNLOADED(name, id, text) {id, L"" text},
const StringEntry stringTable[] = {
#include "ui/ui_strings.def"
};
#undef UI_STRING
#undef UI_STRING_UNLOADED

}  // namespace

bool loadStringResource(unsigned id, wchar_t* buffer, int size) {
    if (size <= 0) return false;
    buffer[0] = L'\0';
    for (const StringEntry& entry : stringTable) {
        if (entry.id == id) {
            std::wcsncpy(buffer, entry.text, static_cast<size_t>(size - 1));
            buffer[size - 1] = L'\0';
            return true;
        }
    }
    return false;
}

}  // namespace platform
