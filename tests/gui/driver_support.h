// What both GUI drivers need to act on ztupdater.exe from another process: checks that count
// failures, bounded waits, reading window texts and menu items, input, pixels and screenshots.
#pragma once

#include <windows.h>

#include <cstdint>
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

// A visible top-level dialog with this title (message boxes are such dialogs), or null.
HWND findDialog(const wchar_t* title);
// A message box's message: the longest static text in it.
std::wstring boxText(HWND box);
// Waits for the box, checks its text when one is given, presses `button` and waits until the
// box is destroyed; false when it never came or stayed.
bool answerBox(const wchar_t* title, const wchar_t* expectedText, int button, DWORD timeoutMs);

// A driver's command line: SCENARIO [ARGS].
struct Scenario {
    std::wstring name;
    std::vector<std::wstring> args;
    // The argument at `index` (0 follows the name), or `absent` when the line has none there.
    const wchar_t* arg(size_t index, const wchar_t* absent = L"") const {
        return index < args.size() ? args[index].c_str() : absent;
    }
};
// False, after printing how to call `driver`, when the line names no scenario.
bool readScenario(int argc, wchar_t** argv, const char* driver, Scenario& scenario);

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

// True once the worker has answered the last version query the main window asked, probes
// included; false while it runs or when the window does not answer.
bool lastQueryAnswered();

// The state of a main-window menu item (GetMenuState flags), read from outside when this
// platform lets another process read a menu, else asked of the window; -1 when neither answers.
UINT menuItemState(UINT command);

struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, rows top down
};

// A 32-bit top-down bitmap selected into a memory context, read back as Pixels.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        screen_ = GetDC(nullptr);
        memory_ = CreateCompatibleDC(screen_);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        previous_ = SelectObject(memory_, bitmap_);
    }
    ~Canvas() {
        SelectObject(memory_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(memory_);
        ReleaseDC(nullptr, screen_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC context() const { return memory_; }
    HDC screen() const { return screen_; }
    Pixels pixels() const {
        GdiFlush();
        Pixels out;
        out.width = width_;
        out.height = height_;
        const auto* data = static_cast<const uint32_t*>(bits_);
        out.rgb.assign(data, data + width_ * height_);
        for (uint32_t& value : out.rgb) value &= 0xFFFFFF;
        return out;
    }

private:
    int width_, height_;
    HDC screen_ = nullptr, memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

// The screen's pixels in `area`.
Pixels grab(const RECT& area);
// The program's visible windows with a margin of desktop around them, as a 24-bit BMP named
// `name` in the folder ZT_SHOTS names (the test scripts turn them into PNG); nothing without it.
void screenshot(const char* name);
// Checks that every static text of `window` fits its control when drawn as a static draws it in
// the template's font, `face` at 8 points; names the texts that do not.
void checkTextsFit(HWND window, const wchar_t* face);
