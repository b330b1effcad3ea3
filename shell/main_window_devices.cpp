// Main window: serial adapters plugged in or removed refill the COM list.
#include <windows.h>

#include "shell/main_window.h"
#include "shell/main_window_state.h"
#include "transport/com_port_table.h"

namespace {

constexpr WPARAM kDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
constexpr WPARAM kDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE

}  // namespace

// The refill leaves no port selected, so in COM mode the unit buttons go off with it. During an
// operation the connection controls stay off: it holds its connection until it ends.
void onDeviceChange(HWND window, WPARAM event) {
    if (event != kDeviceArrival && event != kDeviceRemoveComplete) return;
    enumerateComPorts();
    fillComPortList(window);
    if (mainWindowState.operationActive) {
        setIpControlsEnabled(window, false);
        setComControlsEnabled(window, false);
        return;
    }
    if (mainWindowState.queriedConnection != shownConnection(window)) {
        setUpdateEnabled(window, false);
        setExitBootloadEnabled(window, false);
        setEnterBootloadEnabled(window, false);
    }
}
