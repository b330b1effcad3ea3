// What both GUI drivers need to act on ztupdater.exe from another process: checks that count
// failures, bounded waits, and reading window texts.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

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
