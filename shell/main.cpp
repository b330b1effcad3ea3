// Entry point: start-up, the message loop, and shutdown in a fixed order.
#include <windows.h>
#include <commctrl.h>

#include <clocale>

#include "bootloader/request_worker.h"
#include "content/content_globals.h"
#include "platform/network.h"
#include "resources/resource.h"
#include "shell/embedded_images.h"
#include "shell/firewall_rule.h"
#include "shell/main_window.h"
#include "shell/main_window_state.h"
#include "shell/splash.h"
#include "shell/tab_navigation.h"
#include "shell/tray_icon.h"
#include "startup/embedded_content.h"
#include "transport/com_port_table.h"
#include "ui/ui_strings.h"

namespace {

constexpr DWORD kMinimumSplashMs = 500;
constexpr int kExitNoImage = 1;
constexpr int kExitNoWindow = 0;

void initCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

bool forMainWindow(HWND mainWindow, HWND target) { return target == mainWindow || IsChild(mainWindow, target); }

// Keys typed in any of the main window's controls go to the main window's accelerators, which
// would otherwise send their command to the focused control. Tab moves the focus. Not through
// IsDialogMessage: it would also turn Escape into IDCANCEL, which this window answers with the
// close question, and a plain letter into a click on the button it underlines.
int runMessageLoop(HWND mainWindow, HACCEL accelerators) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (forMainWindow(mainWindow, message.hwnd) &&
            (TranslateAcceleratorW(mainWindow, accelerators, &message) || moveFocusOnTab(mainWindow, message))) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void shutDown(HINSTANCE instance, HWND mainWindow) {
    trayStop(instance, mainWindow);
    stopRequestWorker();
    platform::stopNetworking();
    // A run still going is not waited for; it ends with the process.
    abandonOperation();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    platform::startNetworking();
    operationRequest = {};
    std::setlocale(LC_ALL, "");
    loadEmbeddedContent();
    if (!checkEmbeddedImages()) {
        MessageBoxW(nullptr, updaterProperties.getOrEmpty(L"error-message.NoHexFile"), uiString(kErrorTitle),
                    MB_ICONERROR | MB_OK);
        platform::stopNetworking();
        return kExitNoImage;
    }
    initCommonControls();
    startSplash(instance);
    enumerateComPorts();
    Sleep(kMinimumSplashMs);
    if (!registerMainWindowClass(instance)) return kExitNoWindow;
    // Running before the window takes input, so a query typed at once is answered.
    startRequestWorker();
    HWND mainWindow = createMainWindow(instance);
    if (!mainWindow) {
        endSplash();
        stopRequestWorker();
        platform::stopNetworking();
        return kExitNoWindow;
    }
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    endSplash();
    UpdateWindow(mainWindow);
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    addFirewallRule(mainWindow);
    trayStart(instance, mainWindow);
    int exitCode = runMessageLoop(mainWindow, accelerators);
    bool operationStillGoing = operationActive();
    shutDown(instance, mainWindow);
    // Globals the operation uses (engine, images) must not be destroyed under it.
    if (operationStillGoing) ExitProcess(static_cast<UINT>(exitCode));
    return exitCode;
}
