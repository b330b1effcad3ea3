// Main window: class registration, creation, initialisation and the window procedure.
#include "shell/main_window.h"

#include <string>

#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "resources/resource.h"
#include "shell/embedded_images.h"
#include "shell/fill_control_text.h"
#include "shell/main_window_state.h"
#include "shell/menu_state_query.h"
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

void onClose(HWND window) {
    if (MessageBoxW(window, uiString(kCloseQuestion), uiString(kCloseTitle), MB_YESNO | MB_ICONQUESTION) == IDYES) {
        DestroyWindow(window);
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

}  // namespace

void initMainWindow(HWND window) {
    mainWindowState.sink = new platform::NativeWindowSink(window);
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
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: initMainWindow(window); return FALSE;  // the focus is set
        case WM_COMMAND: onCommand(window, LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_CLOSE: onClose(window); return 0;
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
