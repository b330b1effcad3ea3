// Version Information (template 158): the build's versions, rows with notes drawn as links.
#include <windows.h>

#include <cwchar>

#include "content/content_globals.h"
#include "platform/resources.h"
#include "resources/resource.h"
#include "shell/dialogs.h"
#include "shell/fill_control_text.h"
#include "shell/notes_dialog.h"

namespace {

constexpr int kLabelChars = 128;
constexpr int kRowSlots = 6;

struct VersionRow {
    UINT labelString;
    const wchar_t* key;
    const wchar_t* notes;
};

constexpr VersionRow kRows[kRowSlots] = {
    {119, L"build-version", L"BUILD_NOTES"},         {120, L"core-hw-version", L"CORE_HW_NOTES"},
    {121, L"core-fw-version", L"CORE_FW_NOTES"},     {122, L"server-fw-version", L"SERVER_FW_NOTES"},
    {123, L"server-hw-version", L"SERVER_HW_NOTES"}, {124, L"server-ui-version", L"SERVER_UI_NOTES"},
};

constexpr int kLabelIds[kRowSlots] = {IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW3_LABEL,
                                      IDC_ROW4_LABEL, IDC_ROW5_LABEL, IDC_ROW6_LABEL};
constexpr int kValueIds[kRowSlots] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE,
                                      IDC_ROW4_VALUE, IDC_ROW5_VALUE, IDC_ROW6_VALUE};

// Kept as the dialog's user data until the window is destroyed.
struct VersionState {
    HINSTANCE instance = nullptr;
    HFONT underlinedFont = nullptr;
    HFONT boldFont = nullptr;
    WNDPROC staticProc = nullptr;
};

// The one procedure every static of the template has; the links pass through to it.
WNDPROC savedStaticProc = nullptr;

LRESULT CALLBACK linkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) {
        HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
        SetCursor(hand ? hand : LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
    }
    return CallWindowProcW(savedStaticProc, control, message, wParam, lParam);
}

HFONT derivedFont(HWND control, bool underline, LONG weight) {
    auto base = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW font{};
    if (!base || !GetObjectW(base, sizeof font, &font))
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfUnderline = underline ? TRUE : FALSE;
    if (weight) font.lfWeight = weight;
    return CreateFontIndirectW(&font);
}

bool hasNotes(const wchar_t* name) {
    platform::ResourceBytes bytes;
    return platform::findResource(name, L"NOTES", bytes);
}

void setFont(HWND control, HFONT font) { SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE); }

void fillRow(HWND dialog, const VersionState& version, int slot, const VersionRow& row, const wchar_t* value) {
    HWND label = GetDlgItem(dialog, kLabelIds[slot]);
    HWND valueControl = GetDlgItem(dialog, kValueIds[slot]);
    wchar_t labelText[kLabelChars] = {};
    LoadStringW(version.instance, row.labelString, labelText, kLabelChars);
    fillControlText(dialog, kLabelIds[slot], labelText);
    fillControlText(dialog, kValueIds[slot], value);
    SetWindowLongPtrW(valueControl, GWLP_USERDATA, 0);
    setFont(valueControl, version.boldFont);
    if (hasNotes(row.notes)) {
        SetWindowLongPtrW(label, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(row.notes));
        setFont(label, version.underlinedFont);
        SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProc));
    } else {
        SetWindowLongPtrW(label, GWLP_USERDATA, 0);
    }
    ShowWindow(label, SW_SHOW);
    if (value && std::wcscmp(value, L"-not-present-") != 0) ShowWindow(valueControl, SW_SHOW);
}

void initVersionInformation(HWND dialog, HINSTANCE instance) {
    auto* version = new VersionState{};
    version->instance = instance;
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(version));
    HWND first = GetDlgItem(dialog, IDC_ROW1_LABEL);
    version->underlinedFont = derivedFont(first, true, 0);
    version->boldFont = derivedFont(first, false, FW_BOLD);
    version->staticProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(first, GWLP_WNDPROC));
    savedStaticProc = version->staticProc;
    int slot = 0;
    for (const VersionRow& row : kRows) {
        const wchar_t* value = unitProperties.get(row.key);
        if (!value) continue;
        fillRow(dialog, *version, slot, row, value);
        ++slot;
    }
}

INT_PTR linkColours(HWND control, HDC context) {
    if (GetWindowLongPtrW(control, GWLP_USERDATA) == 0) return FALSE;
    SetTextColor(context, GetSysColor(COLOR_HOTLIGHT));
    SetBkColor(context, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

bool isRowControl(int id) {
    for (int slot = 0; slot < kRowSlots; ++slot) {
        if (id == kLabelIds[slot] || id == kValueIds[slot]) return true;
    }
    return false;
}

void onCommand(HWND dialog, const VersionState* version, WORD id) {
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return;
    }
    if (!version || !isRowControl(id)) return;
    auto notes = reinterpret_cast<const wchar_t*>(GetWindowLongPtrW(GetDlgItem(dialog, id), GWLP_USERDATA));
    if (notes) showNotes(version->instance, dialog, notes);
}

void releaseState(HWND dialog, VersionState* version) {
    if (!version) return;
    DeleteObject(version->underlinedFont);
    DeleteObject(version->boldFont);
    delete version;
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
}

INT_PTR CALLBACK versionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* version = reinterpret_cast<VersionState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: initVersionInformation(dialog, reinterpret_cast<HINSTANCE>(lParam)); return TRUE;
        case WM_CTLCOLORSTATIC: return linkColours(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
        case WM_COMMAND: onCommand(dialog, version, LOWORD(wParam)); return TRUE;
        case WM_DESTROY: releaseState(dialog, version); return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void showVersionInformation(HINSTANCE instance, HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_VERSION_INFORMATION), owner, versionDialogProc,
                    reinterpret_cast<LPARAM>(instance));
}
