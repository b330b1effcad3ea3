// Splash window: template 160 (bitmap 146), run by its own thread and message loop.
#include "shell/splash.h"

#include <process.h>

#include "resources/resource.h"

namespace {

HANDLE splashThread = nullptr;
unsigned splashThreadId = 0;

INT_PTR CALLBACK splashDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

unsigned __stdcall splash_screen_thread(void* argument) {
    HINSTANCE instance = static_cast<HINSTANCE>(argument);
    HWND splash = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_SPLASH), nullptr, splashDialogProc, 0);
    if (splash) {
        ShowWindow(splash, SW_SHOWNORMAL);
        UpdateWindow(splash);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (splash) {
        ShowWindow(splash, SW_HIDE);
        DestroyWindow(splash);
    }
    return 0;
}

}  // namespace

void startSplash(HINSTANCE instance) {
    auto handle = _beginthreadex(nullptr, 0, splash_screen_thread, instance, 0, &splashThreadId);
    splashThread = reinterpret_cast<HANDLE>(handle);
    if (splashThread) SetThreadPriority(splashThread, THREAD_PRIORITY_HIGHEST);
}

void endSplash() {
    if (!splashThread) return;
    // The thread may not have made its queue yet; a thread message only sticks once it has.
    while (!PostThreadMessageW(splashThreadId, WM_QUIT, 0, 0) &&
           WaitForSingleObject(splashThread, 10) == WAIT_TIMEOUT) {
    }
    WaitForSingleObject(splashThread, INFINITE);
    CloseHandle(splashThread);
    splashThread = nullptr;
}
