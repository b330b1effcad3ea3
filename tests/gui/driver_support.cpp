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

bool waitMainWindow() {
    return waitFor([] { return mainWindow() != nullptr && IsWindowVisible(mainWindow()); }, 60000);
}

std::wstring textOf(HWND window) {
    wchar_t buffer[4096] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, &copied);
    return buffer;
}

void sendInputs(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

INPUT key(WORD virtualKey, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return input;
}

void typeKeys(const std::wstring& keys) {
    std::vector<INPUT> inputs;
    for (wchar_t character : keys) {
        WORD virtualKey = static_cast<WORD>(LOBYTE(VkKeyScanW(character)));
        inputs.push_back(key(virtualKey, true));
        inputs.push_back(key(virtualKey, false));
    }
    sendInputs(inputs);
}

INPUT mouseOver(HWND control, DWORD action) {
    RECT box{};
    GetWindowRect(control, &box);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = ((box.left + box.right) / 2) * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = ((box.top + box.bottom) / 2) * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = action | MOUSEEVENTF_ABSOLUTE;
    return input;
}

void clickInto(HWND control) {
    sendInputs({mouseOver(control, MOUSEEVENTF_MOVE), mouseOver(control, MOUSEEVENTF_LEFTDOWN),
                mouseOver(control, MOUSEEVENTF_LEFTUP)});
}

bool focusIn(HWND window, HWND control) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus == control || IsChild(control, info.hwndFocus);
}
