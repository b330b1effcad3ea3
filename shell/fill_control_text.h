// Puts a property value into a control (or a window title) whose own text is the template.
#pragma once

#include <windows.h>

constexpr int kFillWindowItself = -1;

// The target is `window` when id is kFillWindowItself, else its control `id`. A null or
// "-not-present-" value hides a control (returns 1) and leaves a window title alone (returns 0).
// Otherwise the target's text, used as a template, gets the value in place of its "%s" (an
// empty template takes the value as it is). 0 when the control does not exist.
int fillControlText(HWND window, int id, const wchar_t* value);
