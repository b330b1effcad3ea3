// The few message boxes the core shows (socket failures) go through one hook.
#pragma once

namespace platform {

using AlertHook = void (*)(const wchar_t* text, const wchar_t* caption);

// Shows an error alert from any thread and returns when it has been dismissed.
void showAlert(const wchar_t* text, const wchar_t* caption);

// Replaces the default (a message box without owner on Windows, a line on standard error
// elsewhere); nullptr restores it.
void setAlertHook(AlertHook hook);

// The platform's default presentation, for hooks that want to add to it.
void defaultAlert(const wchar_t* text, const wchar_t* caption);

}  // namespace platform
