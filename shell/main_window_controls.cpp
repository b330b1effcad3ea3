// Main window: enabling operations, the COM list and the address of the chosen connection.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "bootloader/request_worker.h"
#include "resources/resource.h"
#include "shell/embedded_images.h"
#include "shell/main_window.h"
#include "shell/main_window_state.h"
#include "transport/com_port_table.h"

namespace {

// The COM list shows "COM7" for the table's "\\.\COM7".
constexpr size_t kDevicePrefixChars = 4;

void enableControl(HWND window, int id, bool on) { EnableWindow(GetDlgItem(window, id), on); }

void enableMenuItem(HWND window, UINT id, bool on) {
    EnableMenuItem(GetMenu(window), id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_DISABLED | MF_GRAYED));
}

bool comListHasEntries(HWND window) { return SendDlgItemMessageW(window, IDC_COM_LIST, CB_GETCOUNT, 0, 0) > 0; }

int comSelection(HWND window) {
    return static_cast<int>(SendDlgItemMessageW(window, IDC_COM_LIST, CB_GETCURSEL, 0, 0));
}

}  // namespace

// The buttons that talk to a unit stay off while COM mode has no port selected.
void setUpdateEnabled(HWND window, bool on) {
    on = on && connectionChosen(window);
    enableControl(window, IDC_UPDATE, on);
    enableMenuItem(window, IDM_UPDATE, on);
}

void setEnterBootloadEnabled(HWND window, bool on) {
    enableControl(window, IDC_ENTER_BOOTLOAD, on && connectionChosen(window));
}

void setExitBootloadEnabled(HWND window, bool on) {
    enableControl(window, IDC_EXIT_BOOTLOAD, on && connectionChosen(window));
}

void setActionButtonsEnabled(HWND window, bool on) {
    setUpdateEnabled(window, on);
    enableControl(window, IDC_DISCOVER, on);
    setExitBootloadEnabled(window, on);
}

void setIpControlsEnabled(HWND window, bool on) {
    enableControl(window, IDC_IP_RADIO, on);
    bool ipOn = on && ipModeSelected(window);
    enableControl(window, IDC_IP_ADDRESS, ipOn);
    enableControl(window, IDC_PARSER_PORT, ipOn);
    enableControl(window, IDC_PARSER_PORT_LABEL, ipOn);
}

void setComControlsEnabled(HWND window, bool on) {
    bool radioOn = on && comListHasEntries(window);
    enableControl(window, IDC_COM_RADIO, radioOn);
    enableControl(window, IDC_COM_LIST, radioOn && IsDlgButtonChecked(window, IDC_COM_RADIO) == BST_CHECKED);
}

void setMainControlsEnabled(HWND window, bool on) {
    setActionButtonsEnabled(window, on);
    setIpControlsEnabled(window, on);
    enableMenuItem(window, IDM_UNIT_PREPARATIONS, on);
    enableMenuItem(window, IDM_UPDATE_INSTRUCTIONS, on);
    enableMenuItem(window, IDM_ABOUT, on);
    setComControlsEnabled(window, on);
    enableControl(window, IDC_FACTORY_DEFAULTS, on);
    enableControl(window, IDC_SERVER_FIRMWARE, on && hexImagePresent);
    enableControl(window, IDC_SERVER_UI, on && flashImagePresent);
    enableControl(window, IDC_MORE, on);
}

void fillComPortList(HWND window) {
    SendDlgItemMessageW(window, IDC_COM_LIST, CB_RESETCONTENT, 0, 0);
    int added = 0;
    for (size_t k = 0; k < kComPortTableSize && !comPortTable[k].empty(); ++k) {
        const std::wstring& path = comPortTable[k];
        const wchar_t* name = path.size() > kDevicePrefixChars ? path.c_str() + kDevicePrefixChars : path.c_str();
        SendDlgItemMessageW(window, IDC_COM_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        ++added;
    }
    SendDlgItemMessageW(window, IDC_COM_LIST, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    enableControl(window, IDC_COM_RADIO, added > 0);
    if (added == 0) {
        CheckDlgButton(window, IDC_IP_RADIO, BST_CHECKED);
        CheckDlgButton(window, IDC_COM_RADIO, BST_UNCHECKED);
        setComControlsEnabled(window, false);
        setIpControlsEnabled(window, true);
    }
}

bool ipModeSelected(HWND window) { return IsDlgButtonChecked(window, IDC_IP_RADIO) == BST_CHECKED; }

bool connectionChosen(HWND window) { return ipModeSelected(window) || comSelection(window) >= 0; }

std::optional<UnitAddress> connectionAddress(HWND window) {
    if (ipModeSelected(window)) {
        DWORD address = 0;
        SendDlgItemMessageW(window, IDC_IP_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        return UnitAddress::network(htonl(address));
    }
    int selected = comSelection(window);
    if (selected < 0) return std::nullopt;
    return UnitAddress::serialPort(comPortTable[selected]);
}

ConnectionKey shownConnection(HWND window) {
    ConnectionKey key;
    key.ipMode = ipModeSelected(window);
    if (key.ipMode) {
        SendDlgItemMessageW(window, IDC_IP_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&key.address));
    } else {
        key.port = comSelection(window);
    }
    return key;
}

void queryConnection(HWND window) {
    const std::optional<UnitAddress> unit = connectionAddress(window);
    if (!unit) return;
    mainWindowState.queriedConnection = shownConnection(window);
    auto request = std::make_unique<DeviceRequest>(deviceRequestFor(mainWindowState.sink, *unit));
    request->number = ++mainWindowState.queriesAsked;
    postDeviceRequest(std::move(request));
}

void setVersionText(HWND window, const wchar_t* text) { SetDlgItemTextW(window, IDC_APP_VERSION, text); }
