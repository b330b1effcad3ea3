// Release check helper, run under Wine: waits for a top-level window of a class, reports its title
// and process, then closes the program the way an installer would (close, answer Yes).
// Usage: window_probe.exe CLASS SECONDS. Exit 0 closed, 1 no window in time, 2 did not close.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND waitForWindow(const wchar_t* className, const wchar_t* title, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        HWND window = FindWindowW(className, title);
        if (window && IsWindowVisible(window)) return window;
        Sleep(100);
    }
    return nullptr;
}

bool waitForWindowGone(HWND window, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        if (!IsWindow(window)) return true;
        Sleep(100);
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: window_probe CLASS SECONDS\n");
        return 2;
    }
    const DWORD limit = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000;
    HWND window = waitForWindow(argv[1], nullptr, limit);
    if (!window) {
        std::wprintf(L"no visible window of class %ls within %lu ms\n", argv[1], limit);
        return 1;
    }
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    std::wprintf(L"window of class %ls: \"%ls\", process %lu\n", argv[1], title, process);
    std::fflush(stdout);

    PostMessageW(window, WM_CLOSE, 0, 0);
    HWND confirmation = waitForWindow(L"#32770", L"Close", 10000);
    if (!confirmation) {
        std::wprintf(L"no close confirmation\n");
        return 2;
    }
    PostMessageW(confirmation, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    if (!waitForWindowGone(window, 20000)) {
        std::wprintf(L"the window stayed open after Yes\n");
        return 2;
    }
    std::wprintf(L"closed after the confirmation\n");
    return 0;
}
