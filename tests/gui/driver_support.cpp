#include "tests/gui/driver_support.h"

#include <cstdio>

int failures = 0;

void check(bool condition, const char* what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    if (!condition) ++failures;
}

void check(bool condition, const std::wstring& what) {
    check(condition, std::string(what.begin(), what.end()).c_str());
}

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

HWND mainWindow() { return FindWindowW(L"FWUPDATER", nullptr); }

bool waitMainWindow() { return waitFor([] { return mainWindow() != nullptr && IsWindowVisible(mainWindow()); }, 60000); }

std::wstring textOf(HWND window) {
    wchar_t buffer[4096] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, &copied);
    return buffer;
}
