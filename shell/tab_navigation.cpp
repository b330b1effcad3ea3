// Tab order through a window's controls in template order, as a dialog has it.
#include "shell/tab_navigation.h"

namespace {

// The window's own control that holds `focus`: the IP address control for one of its fields.
HWND ownControlOf(HWND window, HWND focus) {
    while (focus && GetParent(focus) != window) focus = GetParent(focus);
    return focus;
}

bool isRadioButton(HWND control) { return (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0; }

// Tabbing into a group of radio buttons lands on its checked one, as in a dialog: an unchecked
// automatic radio button that gets the focus from the keyboard checks itself, which here would
// switch the connection mode.
HWND checkedInGroup(HWND window, HWND control) {
    if (!isRadioButton(control)) return control;
    HWND member = control;
    do {
        if (SendMessageW(member, BM_GETCHECK, 0, 0) == BST_CHECKED) return member;
        member = GetNextDlgGroupItem(window, member, FALSE);
    } while (member && member != control);
    return control;
}

bool held(int virtualKey) { return GetKeyState(virtualKey) < 0; }

}  // namespace

bool moveFocusOnTab(HWND window, const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB || held(VK_CONTROL) || held(VK_MENU)) return false;
    HWND from = message.hwnd == window ? nullptr : ownControlOf(window, message.hwnd);
    if (message.hwnd != window && !from) return false;
    HWND next = GetNextDlgTabItem(window, from, held(VK_SHIFT));
    if (!next) return true;
    next = checkedInGroup(window, next);
    SetFocus(next);
    // An edit reached by Tab has its text selected, so that typing replaces it.
    if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(next, EM_SETSEL, 0, -1);
    return true;
}
