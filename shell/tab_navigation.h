// Tab and Shift+Tab for the main window, which is not a dialog: its message loop moves the focus.
#pragma once

#include <windows.h>

// When `message` is a Tab key going to `window` or one of its controls: moves the focus to the
// next enabled, visible tab stop in template order (the previous one with Shift) and returns
// true. Any other message: false.
bool moveFocusOnTab(HWND window, const MSG& message);
