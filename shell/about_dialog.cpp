// About (template 103): the title in a 14 pt font, sized to its text and centred.
#include <windows.h>

#include "resources/resource.h"
#include "shell/dialog_font.h"
#include "shell/dialogs.h"
#include "ui/ui_strings.h"

namespace {

constexpr int kTitlePoints = 14;
constexpr int kTitleChars = 64;

HFONT titleFont = nullptr;

SIZE measuredText(HWND control, HFONT font) {
    wchar_t text[kTitleChars] = {};
    int length = GetWindowTextW(control, text, kTitleChars);
    HDC context = GetDC(control);
    HGDIOBJ previous = SelectObject(context, font);
    SIZE size{};
    GetTextExtentPoint32W(context, text, length, &size);
    SelectObject(context, previous);
    ReleaseDC(control, context);
    return size;
}

// The title keeps its place under the picture: it rises by its own height from where the
// template put it, measured from the dialog window's top.
void placeTitle(HWND dialog) {
    titleFont = createPointFont(dialog, kTitlePoints, FW_BOLD);
    if (!titleFont) return;
    HWND title = GetDlgItem(dialog, IDC_ABOUT_TITLE);
    SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), FALSE);
    SIZE text = measuredText(title, titleFont);
    RECT dialogBox{}, titleBox{};
    GetWindowRect(dialog, &dialogBox);
    GetWindowRect(title, &titleBox);
    int left = (dialogBox.right - dialogBox.left + 1 - text.cx) / 2;
    int top = (titleBox.top - dialogBox.top) - text.cy;
    SetWindowPos(title, nullptr, left, top, text.cx, text.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void endAbout(HWND dialog, INT_PTR result) {
    EndDialog(dialog, result);
    DeleteObject(titleFont);
    titleFont = nullptr;
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: placeTitle(dialog); return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) endAbout(dialog, LOWORD(wParam));
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void showAboutDialog(HINSTANCE instance, HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, aboutDialogProc, 0);
}
