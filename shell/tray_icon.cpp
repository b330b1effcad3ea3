// Tray icon frames and the thread that animates them.
#include "shell/tray_icon.h"

#include <process.h>
#include <shellapi.h>

#include <atomic>

#include "resources/resource.h"

namespace {

constexpr int kFrameCount = 4;
constexpr int kFrameIds[kFrameCount] = {IDI_TRAY_FRAME1, IDI_TRAY_FRAME2, IDI_TRAY_FRAME3, IDI_TRAY_FRAME4};
constexpr DWORD kBusyFrameMs = 150;
constexpr DWORD kIdlePollMs = 250;

HICON frames[kFrameCount] = {};
HWND trayOwner = nullptr;
HANDLE trayThread = nullptr;
int trayFrameIndex = 1;
std::atomic<bool> trayAnimate{false};
std::atomic<bool> trayStopFlag{false};

// Every tray call fills a fresh record: icon only, no callback message, no tooltip.
bool trayNotify(DWORD action, HICON icon) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = trayOwner;
    data.uID = 0;
    data.uFlags = NIF_ICON;
    data.hIcon = icon;
    return Shell_NotifyIconW(action, &data) != FALSE;
}

void trayShowNextFrame() {
    trayNotify(NIM_MODIFY, frames[trayFrameIndex - 1]);
    trayFrameIndex = trayFrameIndex % kFrameCount + 1;
}

unsigned __stdcall tray_icon_thread(void*) {
    while (!trayStopFlag) {
        while (trayAnimate) {
            trayShowNextFrame();
            Sleep(kBusyFrameMs);
            if (trayStopFlag) break;
        }
        trayFrameIndex = 1;
        trayShowNextFrame();
        trayFrameIndex = 1;
        while (!trayAnimate && !trayStopFlag) Sleep(kIdlePollMs);
    }
    for (HICON& frame : frames) {
        DestroyIcon(frame);
        frame = nullptr;
    }
    return 0;
}

}  // namespace

void trayStart(HINSTANCE instance, HWND mainWindow) {
    for (int k = 0; k < kFrameCount; ++k) frames[k] = LoadIconW(instance, MAKEINTRESOURCEW(kFrameIds[k]));
    trayOwner = mainWindow;
    trayNotify(NIM_ADD, frames[0]);
    trayFrameIndex = 1;
    trayAnimate = false;
    trayStopFlag = false;
    trayThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, tray_icon_thread, nullptr, 0, nullptr));
}

void trayStop(HINSTANCE, HWND mainWindow) {
    trayStopFlag = true;
    if (trayThread) {
        WaitForSingleObject(trayThread, INFINITE);
        CloseHandle(trayThread);
        trayThread = nullptr;
    }
    trayAnimate = false;
    trayOwner = mainWindow;
    trayNotify(NIM_DELETE, nullptr);
}

void trayAnimateOn() { trayAnimate = true; }
void trayAnimateOff() { trayAnimate = false; }
