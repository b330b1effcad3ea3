// Process-wide buffers of the UI string set.
#include "ui/ui_strings.h"

#include "platform/string_table.h"

namespace {

constexpr int kBufferChars = 100;

struct UiStringBuffer {
    unsigned id;
    wchar_t text[kBufferChars];
};

#define UI_STRING(name, id, text) {id, {}},
#define UI_STRING_UNLOADED(name, id, text)
UiStringBuffer uiStringBuffers[] = {
#include "ui/ui_strings.def"
};
#undef UI_STRING
#undef UI_STRING_UNLOADED

}  // namespace

void loadUiStrings() {
    for (UiStringBuffer& entry : uiStringBuffers) {
        platform::loadStringResource(entry.id, entry.text, kBufferChars);
    }
}

const wchar_t* uiString(UiStringId id) {
    for (const UiStringBuffer& entry : uiStringBuffers) {
        if (entry.id == id) return entry.text;
    }
    return L"";
}
