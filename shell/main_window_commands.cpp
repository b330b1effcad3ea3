// Main window: buttons, menu items and the connection controls.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <cwchar>

#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "discovery/discovery_formats.h"
#include "resources/resource.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/main_window_state.h"
#include "shell/tray_icon.h"
#include "transport/transport_factory.h"
#include "ui/ui_strings.h"

namespace {

constexpr int kParserPortMaxChars = 5;
unsigned __stdcall bootloadThreadEntry(void* request) {
    bootload_thread(static_cast<BootloadRequest*>(request));
    return 0;
}

unsigned __stdcall exitBootloadThreadEntry(void* request) {
    exit_bootload_thread(static_cast<BootloadRequest*>(request));
    return 0;
}

// Starts an update or exit-bootload operation; one at a time, and only with a unit chosen.
void startOperation(HWND window, unsigned(__stdcall* entry)(void*)) {
    const std::optional<UnitAddress> unit = connectionAddress(window);
    if (!unit) return;
    mainWindowState.operationActive = true;
    setMainControlsEnabled(window, false);
    // The disabled control loses the focus; the window keeps the keyboard (Alt+F4, the menus).
    SetFocus(window);
    mainWindowState.busyCursor = LoadCursorW(nullptr, IDC_WAIT);
    mainWindowState.savedCursor = SetCursor(mainWindowState.busyCursor);
    operationRequest.window = mainWindowState.sink;
    mainWindowState.stopRequested = false;
    operationRequest.stopRequested = &mainWindowState.stopRequested;
    operationRequest.transport = makeBootloaderTransport(*unit);
    auto handle = _beginthreadex(nullptr, 0, entry, &operationRequest, 0, nullptr);
    mainWindowState.operationThread = reinterpret_cast<HANDLE>(handle);
    if (!mainWindowState.operationThread) {
        SetCursor(mainWindowState.savedCursor);
        mainWindowState.busyCursor = nullptr;
        mainWindowState.savedCursor = nullptr;
        mainWindowState.operationActive = false;
        setMainControlsEnabled(window, true);
        return;
    }
    trayAnimateOn();
}

// Only on the connection the last query went to: after an edit or a mode switch the buttons'
// state may still describe another unit.
bool mayStartOperation(HWND window) {
    return !mainWindowState.operationActive && connectionChosen(window) &&
           mainWindowState.queriedConnection == shownConnection(window);
}

void onUpdate(HWND window) {
    if (!mayStartOperation(window)) return;
    if (MessageBoxW(window, updaterProperties.getOrEmpty(L"update-warning"), uiString(kWarningTitle),
                    MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
        return;
    }
    startOperation(window, bootloadThreadEntry);
}

void onExitBootload(HWND window) {
    if (mayStartOperation(window)) startOperation(window, exitBootloadThreadEntry);
}

void onEnterBootload(HWND window) {
    if (!mayStartOperation(window)) return;
    const std::optional<UnitAddress> unit = connectionAddress(window);
    if (!unit) return;
    showEnterBootloadDialog(mainWindowState.instance, window, *unit);
    queryConnection(window);
}

void onDiscover(HWND window) {
    if (mainWindowState.operationActive) return;
    trayAnimateOn();
    bool networkMode = ipModeSelected(window);
    INT_PTR result = showDiscoverDialog(mainWindowState.instance, window, networkMode);
    if (result != IDCANCEL) {
        if (networkMode) {
            // The control's change notification checks the address and queries the unit.
            DWORD address = ntohl(static_cast<u_long>(result));
            SendDlgItemMessageW(window, IDC_IP_ADDRESS, IPM_SETADDRESS, 0, address);
        } else {
            SendDlgItemMessageW(window, IDC_COM_LIST, CB_SETCURSEL, result & 0xFF, 0);
            setVersionText(window, L"");
            if (static_cast<uint32_t>(result) != 0xFFFFFFFFu) queryConnection(window);
        }
    }
    trayAnimateOff();
}

void onOverwriteCheck(HWND window, int id) {
    HWND box = GetDlgItem(window, id);
    auto* flag = reinterpret_cast<std::atomic<uint8_t>*>(GetWindowLongPtrW(box, GWLP_USERDATA));
    if (flag) *flag = IsDlgButtonChecked(window, id) == BST_CHECKED ? 1 : 0;
}

void disableUnitButtons(HWND window) {
    setUpdateEnabled(window, false);
    setExitBootloadEnabled(window, false);
    setEnterBootloadEnabled(window, false);
}

void onComSelection(HWND window) {
    setVersionText(window, L"");
    setEnterBootloadEnabled(window, false);
    queryConnection(window);
}

void onIpAddressChanged(HWND window) {
    DWORD address = 0;
    LRESULT filled = SendDlgItemMessageW(window, IDC_IP_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    setEnterBootloadEnabled(window, false);
    bool valid = filled == 4 && address != 0 && address != 0xFFFFFFFFu && isUsableUnitAddress(htonl(address));
    if (!valid) {
        mainWindowState.queriedConnection.reset();
        setUpdateEnabled(window, false);
        setExitBootloadEnabled(window, false);
        return;
    }
    setVersionText(window, uiString(kSearching));
    setActionButtonsEnabled(window, false);
    queryConnection(window);
}

// The buttons describe the unit last queried; a switch to a connection nobody asked about asks
// it, or turns them off when it names no unit.
void onModeSwitched(HWND window) {
    if (mainWindowState.queriedConnection == shownConnection(window)) return;
    mainWindowState.queriedConnection.reset();
    setVersionText(window, L"");
    if (ipModeSelected(window)) {
        onIpAddressChanged(window);
    } else if (connectionChosen(window)) {
        onComSelection(window);
    } else {
        disableUnitButtons(window);
    }
}

// Only the chosen mode's controls take input.
void switchConnectionMode(HWND window, bool ipMode) {
    EnableWindow(GetDlgItem(window, IDC_IP_ADDRESS), ipMode);
    EnableWindow(GetDlgItem(window, IDC_PARSER_PORT), ipMode);
    EnableWindow(GetDlgItem(window, IDC_PARSER_PORT_LABEL), ipMode);
    EnableWindow(GetDlgItem(window, IDC_COM_LIST), !ipMode);
    onModeSwitched(window);
}

bool parserPortBoxShown = false;

// An empty, unreadable or over-long entry counts as out of range. The box takes the focus from
// the edit, whose second kill-focus must not open a box over the first.
void onParserPortEdited(HWND window) {
    if (parserPortBoxShown) return;
    HWND edit = GetDlgItem(window, IDC_PARSER_PORT);
    unsigned long value = 0;
    if (GetWindowTextLengthW(edit) <= kParserPortMaxChars) {
        wchar_t text[kParserPortMaxChars + 1] = {};
        GetWindowTextW(edit, text, kParserPortMaxChars + 1);
        value = std::wcstoul(text, nullptr, 10);
        if (isValidParserPort(static_cast<long long>(value))) {
            parserPort = static_cast<uint32_t>(value);
            return;
        }
    }
    parserPortBoxShown = true;
    MessageBoxW(window, uiString(kParserPortRange), uiString(kOutOfRange), MB_ICONERROR | MB_OK);
    parserPortBoxShown = false;
    SetDlgItemInt(window, IDC_PARSER_PORT, parserPort, FALSE);
}

}  // namespace

void onCommand(HWND window, WORD id, WORD notification) {
    switch (id) {
        case IDC_IP_ADDRESS:
            if (notification == EN_CHANGE) onIpAddressChanged(window);
            break;
        case IDC_DISCOVER: onDiscover(window); break;
        case IDC_UPDATE:
        case IDM_UPDATE: onUpdate(window); break;
        case IDC_FACTORY_DEFAULTS:
        case IDC_SERVER_FIRMWARE:
        case IDC_SERVER_UI: onOverwriteCheck(window, id); break;
        case IDC_PARSER_PORT:
            if (notification == EN_KILLFOCUS) onParserPortEdited(window);
            break;
        case IDC_MORE: showVersionInformation(mainWindowState.instance, window); break;
        case IDC_EXIT_BOOTLOAD: onExitBootload(window); break;
        case IDC_ENTER_BOOTLOAD: onEnterBootload(window); break;
        case IDC_IP_RADIO: switchConnectionMode(window, true); break;
        case IDC_COM_RADIO: switchConnectionMode(window, false); break;
        case IDC_COM_LIST:
            if (notification == CBN_SELCHANGE) onComSelection(window);
            break;
        case IDM_ABOUT: showAboutDialog(mainWindowState.instance, window); break;
        case IDM_UNIT_PREPARATIONS:
            showHelpPages(mainWindowState.instance, window, unitProperties, L"help-message.Unit Preparation");
            break;
        case IDM_UPDATE_INSTRUCTIONS:
            showHelpPages(mainWindowState.instance, window, updaterProperties, L"help-message.Updater Instructions");
            break;
        case IDM_EXIT:
        case IDCANCEL: SendMessageW(window, WM_CLOSE, 0, 0); break;
        default: break;
    }
}
