// Notes: release notes and the like, converted under the user's locale.
#include "shell/notes_dialog.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "resources/resource.h"
#include "shell/dialog_font.h"

namespace {

constexpr int kNotesPoints = 8;
constexpr wchar_t kNotesFace[] = L"Courier New";

HFONT notesFont = nullptr;

// The resource bytes carry no terminator; the conversion reads a terminated copy.
std::vector<wchar_t> wideText(const platform::ResourceBytes& bytes) {
    std::string narrow(reinterpret_cast<const char*>(bytes.data), bytes.size);
    std::vector<wchar_t> wide(bytes.size + 1, L'\0');
    std::mbstowcs(wide.data(), narrow.c_str(), bytes.size);
    return wide;
}

bool fillNotes(HWND dialog, const wchar_t* name) {
    platform::ResourceBytes bytes;
    if (!name || !platform::findResource(name, L"NOTES", bytes)) return false;
    std::vector<wchar_t> text = wideText(bytes);
    HWND edit = GetDlgItem(dialog, IDC_NOTES_TEXT);
    notesFont = createPointFont(dialog, kNotesPoints, FW_NORMAL, FIXED_PITCH | FF_MODERN, kNotesFace);
    if (notesFont) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(notesFont), FALSE);
    SetWindowTextW(edit, text.data());
    ShowWindow(edit, SW_SHOW);
    // Focused by the dialog manager, the edit would open with its whole text selected.
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    return true;
}

// The read-only edit is drawn like an ordinary one, not greyed.
INT_PTR editColours(HDC context) {
    SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(context, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
}

INT_PTR CALLBACK notesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            if (!fillNotes(dialog, reinterpret_cast<const wchar_t*>(lParam))) EndDialog(dialog, IDCANCEL);
            return FALSE;  // the focus is set
        case WM_CTLCOLORSTATIC:
            if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_NOTES_TEXT) {
                return editColours(reinterpret_cast<HDC>(wParam));
            }
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case WM_DESTROY:
            DeleteObject(notesFont);
            notesFont = nullptr;
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

INT_PTR showNotes(HINSTANCE instance, HWND owner, const wchar_t* notesName) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_NOTES), owner, notesDialogProc,
                           reinterpret_cast<LPARAM>(notesName));
}
