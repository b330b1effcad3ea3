#include "tests/gui/driver_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "shell/test_queries.h"

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

HWND findDialog(const wchar_t* title) {
    HWND dialog = FindWindowW(L"#32770", title);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

std::wstring boxText(HWND box) {
    std::wstring longest;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        std::wstring text = textOf(child);
        if (_wcsicmp(className, L"Static") == 0 && text.size() > longest.size()) longest = text;
    }
    return longest;
}

bool answerBox(const wchar_t* title, const wchar_t* expectedText, int button, DWORD timeoutMs) {
    HWND box = nullptr;
    bool found = waitFor([&] { return (box = findDialog(title)) != nullptr; }, timeoutMs);
    check(found, std::wstring(L"box \"") + title + L"\" appears");
    if (!found) return false;
    std::wstring text = boxText(box);
    if (expectedText) {
        if (text != expectedText) std::printf("     box text: %ls\n", text.c_str());
        check(text == expectedText, std::wstring(L"box reads \"") + expectedText + L"\"");
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return waitFor([&] { return !IsWindow(box); }, 30000);
}

bool readScenario(int argc, wchar_t** argv, const char* driver, Scenario& scenario) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SCENARIO [ARGS]\n", driver);
        return false;
    }
    scenario.name = argv[1];
    scenario.args.assign(argv + 2, argv + argc);
    return true;
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

bool lastQueryAnswered() {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(mainWindow(), RegisterWindowMessageW(kQueryAnsweredQueryName), 0, 0, SMTO_NORMAL, 5000,
                               &answer) != 0 &&
           answer == 1;
}

UINT menuItemState(UINT command) {
    UINT state = GetMenuState(GetMenu(mainWindow()), command, MF_BYCOMMAND);
    if (state != static_cast<UINT>(-1)) return state;
    DWORD_PTR answer = static_cast<DWORD_PTR>(-1);
    if (!SendMessageTimeoutW(mainWindow(), RegisterWindowMessageW(kMenuStateQueryName), command, 0, SMTO_NORMAL, 5000,
                             &answer)) {
        return static_cast<UINT>(-1);
    }
    return static_cast<UINT>(answer);
}

Pixels grab(const RECT& area) {
    Canvas canvas(area.right - area.left, area.bottom - area.top);
    BitBlt(canvas.context(), 0, 0, area.right - area.left, area.bottom - area.top, canvas.screen(), area.left, area.top,
           SRCCOPY);
    return canvas.pixels();
}

namespace {

constexpr int kShotMargin = 12;

struct ProgramWindows {
    DWORD process = 0;
    RECT area{};
    bool found = false;
};

BOOL CALLBACK addProgramWindow(HWND window, LPARAM data) {
    auto* windows = reinterpret_cast<ProgramWindows*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    RECT box{};
    if (process != windows->process || !IsWindowVisible(window) || !GetWindowRect(window, &box) || IsRectEmpty(&box))
        return TRUE;
    if (windows->found) {
        UnionRect(&windows->area, &windows->area, &box);
    } else {
        windows->area = box;
        windows->found = true;
    }
    return TRUE;
}

// The program's visible top-level windows together; the whole screen when it has none.
RECT programArea() {
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ProgramWindows windows;
    GetWindowThreadProcessId(mainWindow(), &windows.process);
    if (!windows.process) return screen;
    EnumWindows(addProgramWindow, reinterpret_cast<LPARAM>(&windows));
    if (!windows.found) return screen;
    InflateRect(&windows.area, kShotMargin, kShotMargin);
    IntersectRect(&windows.area, &windows.area, &screen);
    return windows.area;
}

}  // namespace

void screenshot(const char* name) {
    const char* folder = std::getenv("ZT_SHOTS");
    if (!folder) return;
    // The window being worked in, in front. Wine can leave the caption of the foreground window
    // drawn inactive once the splash, another thread's window, has gone: have it drawn as it is.
    HWND front = GetLastActivePopup(mainWindow());
    SetForegroundWindow(front);
    DWORD_PTR ignored = 0;
    if (GetForegroundWindow() == front) SendMessageTimeoutW(front, WM_NCACTIVATE, TRUE, 0, SMTO_NORMAL, 2000, &ignored);
    Sleep(300);
    Pixels pixels = grab(programArea());
    int rowBytes = (pixels.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = pixels.width;
    header.biHeight = -pixels.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + rowBytes * pixels.height;
    std::string path = std::string(folder) + "\\" + name + ".bmp";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&header, sizeof header, 1, out);
    std::vector<unsigned char> row(rowBytes, 0);
    for (int y = 0; y < pixels.height; ++y) {
        for (int x = 0; x < pixels.width; ++x) {
            uint32_t value = pixels.rgb[y * pixels.width + x];
            row[x * 3] = value & 0xFF;
            row[x * 3 + 1] = (value >> 8) & 0xFF;
            row[x * 3 + 2] = (value >> 16) & 0xFF;
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    std::fclose(out);
    std::printf("     screenshot %s\n", name);
}

namespace {

bool isTextStatic(HWND control) {
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    LONG type = GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK;
    return _wcsicmp(className, L"Static") == 0 && (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
}

std::vector<std::wstring> clippedTexts(HWND window, const wchar_t* face, int points) {
    std::vector<std::wstring> clipped;
    HDC context = GetDC(nullptr);
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(points * GetDeviceCaps(context, LOGPIXELSY) / 72.0));
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    HFONT handle = CreateFontIndirectW(&font);
    HGDIOBJ previous = SelectObject(context, handle);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::wstring text = textOf(child);
        if (!IsWindowVisible(child) || !isTextStatic(child) || text.empty()) continue;
        RECT room{};
        GetClientRect(child, &room);
        RECT needed{0, 0, room.right, 0};
        DrawTextW(context, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        if (needed.right > room.right || needed.bottom > room.bottom) clipped.push_back(text);
    }
    SelectObject(context, previous);
    DeleteObject(handle);
    ReleaseDC(nullptr, context);
    return clipped;
}

}  // namespace

void checkTextsFit(HWND window, const wchar_t* face) {
    std::vector<std::wstring> clipped = clippedTexts(window, face, 8);
    for (const std::wstring& text : clipped) std::printf("     clipped: %ls\n", text.c_str());
    check(clipped.empty(), "every text fits its control");
}
