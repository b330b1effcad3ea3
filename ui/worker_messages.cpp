// Status-line delivery for worker threads.
#include "ui/worker_messages.h"

#include <string>

#include "ui/ui_strings.h"

std::wstring formatStatus(const wchar_t* text) {
    std::wstring line = uiString(kProgressFormat);
    size_t slot = line.find(L"%s");
    if (slot != std::wstring::npos) line.replace(slot, 2, text);
    if (line.size() > kStatusTextChars - 1) line.resize(kStatusTextChars - 1);
    return line;
}

bool postStatus(platform::WindowHandle window, const wchar_t* text, bool post, RunStage stage) {
    platform::WindowMessage message{WMU_STATUS_TEXT, static_cast<uintptr_t>(stage), 0, text};
    if (post) {
        platform::postWindowMessage(window, std::move(message));
    } else {
        platform::sendWindowMessage(window, std::move(message));
    }
    return true;
}

bool isTerminalMessage(uint32_t id) {
    return id == WMU_UPDATE_DONE || id == WMU_UPDATE_FAILED || id == WMU_WRONG_RESPONSE || id == WMU_NO_RESPONSE ||
           id == WMU_BOOTLOAD_EXITED;
}
