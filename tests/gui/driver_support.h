// What both GUI drivers need to act on ztupdater.exe from another process: checks that count
// failures, bounded waits, and reading window texts.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Checks that did not hold so far; a scenario returns it as its exit code.
extern int failures;

void check(bool condition, const char* what);
void check(bool condition, const std::wstring& what);
// Polls every 50 ms; false when `timeoutMs` passed first.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs);
HWND mainWindow();
bool waitMainWindow();
// WM_GETTEXT itself: GetWindowTextW on another process's edit control reads a stale caption.
std::wstring textOf(HWND window);

// Real input, as the keyboard and mouse make it: the program sees hardware messages.
void sendInputs(std::vector<INPUT> inputs);
INPUT key(WORD virtualKey, bool down);
// A key pressed and released, for each character of `keys` (digits and letters as typed).
void typeKeys(const std::wstring& keys);
// Mouse input at the middle of a control.
INPUT mouseOver(HWND control, DWORD action);
// A left click, which also gives the control the keyboard focus.
void clickInto(HWND control);
// True when the keyboard focus of `window`'s thread is in `control` or one of its children.
bool focusIn(HWND window, HWND control);
