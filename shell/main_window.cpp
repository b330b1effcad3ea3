// Main window: class registration, creation, initialisation and the window procedure.
#include "shell/main_window.h"

#include <string>

#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "resources/resource.h"
#include "shell/embedded_images.h"
#include "shell/fill_control_text.h"
#include "shell/main_window_state.h"
#include "shell/test_queries.h"
#include "ui/ui_strings.h"

MainWindowState mainWindowState;
BootloadRequest operationRequest;

namespace {

// The flag a check box stands for travels as the box's user data.
void bindOverwriteCheck(HWND window, int id, std::atomic<uint8_t>& flag) {
    HWND box = GetDlgItem(window, id);
    SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&flag));
    CheckDlgButton(window, id, flag != 0 ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(box, flag != 0);
}

void initOverwriteChecks(HWND window) {
    bindOverwriteCheck(window, IDC_FACTORY_DEFAULTS, updateOptions.overwriteFactoryDefaults);
    bindOverwriteCheck(window, IDC_SERVER_FIRMWARE, updateOptions.overwriteServerFirmware);
    bindOverwriteCheck(window, IDC_SERVER_UI, updateOptions.overwriteServerUi);
    EnableWindow(GetDlgItem(window, IDC_FACTORY_DEFAULTS), TRUE);
}

// During an operation Yes stops it, as ztupdate's Ctrl-C does; the window goes once its thread
// has ended (onTimer), so the unit is never left with a run still talking to it.
void onClose(HWND window) {
    if (mainWindowState.closeWhenFinished) return;
    if (MessageBoxW(window, uiString(kCloseQuestion), uiString(kCloseTitle), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    if (!mainWindowState.operationActive) {
        DestroyWindow(window);
        return;
    }
    mainWindowState.stopRequested = true;
    mainWindowState.closeWhenFinished = true;
}

bool isControlOf(HWND window, HWND control) { return control && IsChild(window, control); }

// A control takes the focus when it and every window up to the main window are enabled.
bool takesFocus(HWND window, HWND control) {
    if (!isControlOf(window, control) || !IsWindowVisible(control)) return false;
    for (HWND part = control; part && part != window; part = GetParent(part)) {
        if (!IsWindowEnabled(part)) return false;
    }
    return true;
}

// As a dialog does: the control that had the focus gets it back when the window is active again,
// after a message box say; DefWindowProcW would give it to the window itself. A control that
// has it already, from the click that activated the window, keeps it.
void onActivate(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        if (isControlOf(window, GetFocus())) mainWindowState.savedFocus = GetFocus();
    } else if (!HIWORD(wParam) && !isControlOf(window, GetFocus())) {
        restoreFocus(window);
    }
}

void onMouseMove() {
    if (mainWindowState.busyCursor) SetCursor(mainWindowState.busyCursor);
}

// Windows asks for the cursor at every move over any control; without this answer the class
// arrow would replace the wait cursor until the next mouse move over the window itself.
bool onSetCursor() {
    if (!mainWindowState.busyCursor) return false;
    SetCursor(mainWindowState.busyCursor);
    return true;
}

UINT menuStateQuery() {
    static const UINT message = RegisterWindowMessageW(kMenuStateQueryName);
    return message;
}

UINT queryAnsweredQuery() {
    static const UINT message = RegisterWindowMessageW(kQueryAnsweredQueryName);
    return message;
}

}  // namespace

void restoreFocus(HWND window) {
    HWND target = mainWindowState.savedFocus;
    if (!takesFocus(window, target)) {
        if (isControlOf(window, GetFocus())) return;
        target = GetNextDlgTabItem(window, nullptr, FALSE);
    }
    // During an operation no control takes it: the window keeps the keyboard itself.
    if (!target && mainWindowState.operationActive) target = window;
    if (target) SetFocus(target);
}

void initMainWindow(HWND window) {
    mainWindowState.nativeSink = new platform::NativeWindowSink(window);
    mainWindowState.sink = new CoalescingProgressSink(*mainWindowState.nativeSink);
    fillControlText(window, kFillWindowItself, unitProperties.get(L"model"));
    fillControlText(window, IDC_PRODUCT_NAME, unitProperties.get(L"model"));
    fillControlText(window, IDC_BUILD_VERSION, unitProperties.get(L"build-version"));
    fillControlText(window, IDC_STATUS, uiString(kIdle));
    SetDlgItemInt(window, IDC_PARSER_PORT, parserPort, FALSE);
    initOverwriteChecks(window);
    fillComPortList(window);
    CheckDlgButton(window, IDC_IP_RADIO, BST_CHECKED);
    CheckDlgButton(window, IDC_COM_RADIO, BST_UNCHECKED);
    setIpControlsEnabled(window, true);
    EnableWindow(GetDlgItem(window, IDC_COM_LIST), FALSE);
    SetFocus(GetDlgItem(window, IDC_IP_ADDRESS));
    mainWindowState.savedFocus = GetFocus();
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: initMainWindow(window); return FALSE;  // the focus is set
        case WM_COMMAND: onCommand(window, LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_CLOSE: onClose(window); return 0;
        case WM_ACTIVATE: onActivate(window, wParam); return 0;
        case WM_TIMER: onTimer(window, wParam); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
        case WM_MOUSEMOVE: onMouseMove(); return 0;
        case WM_SETCURSOR:
            if (onSetCursor()) return TRUE;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_DEVICECHANGE: onDeviceChange(window, wParam); return TRUE;
        default:
            if (onWorkerMessage(window, message, wParam, lParam)) return 0;
            if (message == menuStateQuery())
                return GetMenuState(GetMenu(window), static_cast<UINT>(wParam), MF_BYCOMMAND);
            if (message == queryAnsweredQuery())
                return mainWindowState.lastQueryAnswered == mainWindowState.queriesAsked ? 1 : 0;
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = uiString(kWindowClassName);
    mainWindowState.instance = instance;
    return RegisterClassExW(&windowClass) != 0;
}

HWND createMainWindow(HINSTANCE instance) {
    // The class procedure gets every message; it is also named as the dialog procedure, which
    // is what makes the dialog manager send WM_INITDIALOG. Unhandled messages go to
    // DefWindowProcW, so the dialog procedure is never called through DefDlgProcW.
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainWindowProc, 0);
}
