// Default alert (Windows): a message box without owner window.
#include <windows.h>

#include "platform/alert.h"

namespace platform {

void defaultAlert(const wchar_t* text, const wchar_t* caption) { MessageBoxW(nullptr, text, caption, MB_ICONERROR); }

}  // namespace platform
