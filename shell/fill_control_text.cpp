// fillControlText: one-shot filling of "%s" templates from the property texts.
#include "shell/fill_control_text.h"

#include <cwchar>
#include <string>

namespace {

constexpr int kTemplateChars = 256;

// The template's first "%s" takes the value; the value itself is never read as a format, so a
// "%" in a property text shows as it is.
std::wstring applyTemplate(const std::wstring& pattern, const wchar_t* value) {
    if (pattern.empty()) return value;
    std::wstring result = pattern;
    size_t slot = result.find(L"%s");
    if (slot != std::wstring::npos) result.replace(slot, 2, value);
    return result;
}

}  // namespace

int fillControlText(HWND window, int id, const wchar_t* value) {
    HWND target = id == kFillWindowItself ? window : GetDlgItem(window, id);
    if (!value || std::wcscmp(value, L"-not-present-") == 0) {
        if (id == kFillWindowItself) return 0;
        if (target) ShowWindow(target, SW_HIDE);
        return 1;
    }
    if (!target) return 0;
    wchar_t pattern[kTemplateChars] = {};
    GetWindowTextW(target, pattern, kTemplateChars);
    SetWindowTextW(target, applyTemplate(pattern, value).c_str());
    return 1;
}
