// Main window: the worker threads' messages, progress, and the end of every operation.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <optional>

#include "resources/resource.h"
#include "shell/main_window.h"
#include "shell/main_window_state.h"
#include "shell/tray_icon.h"
#include "ui/run_result.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

namespace {

constexpr DWORD kSettleBeforeResultMs = 200;

// A query's answers that arrive during an operation must not enable anything that starts one,
// and once the operation ends Update, Discover and Exit Bootload are enabled whatever the unit
// said: they are dropped. Enter Bootload takes its answer when the operation ends.
void answerUpdate(HWND window, bool on) {
    if (!mainWindowState.operationActive) setUpdateEnabled(window, on);
}

void answerDiscover(HWND window, bool on) {
    if (!mainWindowState.operationActive) EnableWindow(GetDlgItem(window, IDC_DISCOVER), on);
}

void answerExitBootload(HWND window, bool on) {
    if (!mainWindowState.operationActive) setExitBootloadEnabled(window, on);
}

void answerEnterBootload(HWND window, bool on) {
    if (mainWindowState.operationActive) {
        mainWindowState.deferredEnterBootload = on;
    } else {
        setEnterBootloadEnabled(window, on);
    }
}

void applyDeferredAnswer(HWND window) {
    std::optional<bool> enterBootload = mainWindowState.deferredEnterBootload;
    mainWindowState.deferredEnterBootload.reset();
    if (enterBootload) setEnterBootloadEnabled(window, *enterBootload);
}

void onBootloaderFound(HWND window) {
    answerUpdate(window, true);
    answerDiscover(window, true);
    answerExitBootload(window, true);
}

void onNoBootloader(HWND window) {
    answerUpdate(window, false);
    answerDiscover(window, true);
    answerExitBootload(window, false);
}

void onAppVersion(HWND window, LPARAM lParam) {
    uint32_t version = static_cast<uint32_t>(lParam);
    if (version == 0 || version == APP_VERSION_NONE) {
        setVersionText(window, uiString(kNotFound));
        return;
    }
    wchar_t text[24];
    std::swprintf(text, 24, L"%u.%u", version >> 16, version & 0xFFFFu);
    setVersionText(window, text);
}

void onStatusText(HWND window, LPARAM lParam) {
    const std::wstring step = platform::takeMessageText(lParam);
    SetDlgItemTextW(window, IDC_STATUS, formatStatus(step.c_str()).c_str());
}

// The bar is drawn at most this often: a worker reports every request, and a drawing per
// request takes the window's whole time under Wine.
constexpr UINT kProgressDrawMs = 50;
// How often the window looks whether an operation's thread has ended, without waiting on it.
constexpr UINT kOperationPollMs = 20;

// What an operation's end will show once its thread has ended.
struct OperationEnd {
    RunResultText result;
    // Exit Bootload: the unit restarts, so it is asked again after the box.
    bool queryAfter = false;
    bool threadEnded = false;
    DWORD threadEndedAt = 0;
};
std::optional<OperationEnd> operationEnd;

// A position message has come and the bar has not drawn it yet.
bool positionWaiting = false;

// The one position message that waits at a time starts the drawing's timer; the positions that
// come meanwhile only replace the latest value.
void onProgressPosition(HWND window) {
    positionWaiting = true;
    SetTimer(window, kProgressTimer, kProgressDrawMs, nullptr);
}

void drawLatestProgress(HWND window) {
    KillTimer(window, kProgressTimer);
    if (!positionWaiting) return;
    positionWaiting = false;
    setProgressPosition(window, static_cast<int>(mainWindowState.sink->takePosition()));
}

// The same words as ztupdate's report of the run, once the thread has ended.
void finishWithResult(HWND window, UINT terminalMessage, bool queryAfter = false) {
    trayAnimateOff();
    drawLatestProgress(window);
    operationEnd = OperationEnd{runResultText(terminalMessage), queryAfter};
    SetTimer(window, kOperationEndTimer, kOperationPollMs, nullptr);
}

bool threadHasEnded() {
    HANDLE thread = mainWindowState.operationThread;
    if (thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) return false;
    if (thread) CloseHandle(thread);
    mainWindowState.operationThread = nullptr;
    return true;
}

// Shows the result box, resets status, progress and cursor, enables the controls again and
// applies the worker answers that came during the operation.
void showResult(HWND window, const OperationEnd& end) {
    const RunResultText& result = end.result;
    MessageBoxW(window, result.text, result.title, MB_OK | (result.success ? MB_ICONINFORMATION : MB_ICONERROR));
    postStatus(mainWindowState.sink, uiString(kIdle), false);
    setProgressPosition(window, 0);
    mainWindowState.busyCursor = nullptr;
    SetCursor(mainWindowState.savedCursor);
    mainWindowState.savedCursor = nullptr;
    mainWindowState.operationActive = false;
    setMainControlsEnabled(window, true);
    restoreFocus(window);
    applyDeferredAnswer(window);
    if (end.queryAfter) queryConnection(window);
}

// The result box comes a moment after the thread has ended; a close asked for during the
// operation closes the window instead.
void onOperationEndTimer(HWND window) {
    if (!operationEnd) {
        KillTimer(window, kOperationEndTimer);
        return;
    }
    if (!operationEnd->threadEnded) {
        if (!threadHasEnded()) return;
        operationEnd->threadEnded = true;
        operationEnd->threadEndedAt = GetTickCount();
    }
    const bool closing = mainWindowState.closeWhenFinished;
    if (!closing && GetTickCount() - operationEnd->threadEndedAt < kSettleBeforeResultMs) return;
    KillTimer(window, kOperationEndTimer);
    const OperationEnd end = *operationEnd;
    operationEnd.reset();
    if (closing) {
        mainWindowState.operationActive = false;
        DestroyWindow(window);
        return;
    }
    showResult(window, end);
}

}  // namespace

bool onWorkerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WMU_UPDATE_DONE:
        case WMU_UPDATE_FAILED:
        case WMU_WRONG_RESPONSE:
        case WMU_NO_RESPONSE: finishWithResult(window, message); return true;
        case WMU_STATUS_TEXT: onStatusText(window, lParam); return true;
        case WMU_BOOTLOAD_EXITED: finishWithResult(window, message, true); return true;
        case WMU_BOOTLOADER_FOUND: onBootloaderFound(window); return true;
        case WMU_NO_BOOTLOADER: onNoBootloader(window); return true;
        case WMU_APP_VERSION: onAppVersion(window, lParam); return true;
        case WMU_ENTER_BOOTLOAD_ALLOWED: answerEnterBootload(window, wParam != 0); return true;
        case WMU_EXIT_BOOTLOAD_ALLOWED: answerExitBootload(window, wParam != 0); return true;
        case WMU_PROGRESS_RANGE:
            setProgressRange(window, static_cast<int>(wParam), static_cast<int>(lParam));
            return true;
        case WMU_PROGRESS_POS: onProgressPosition(window); return true;
        case WMU_QUERY_DONE: mainWindowState.lastQueryAnswered = static_cast<uint32_t>(wParam); return true;
        default: return false;
    }
}

bool setProgressPosition(HWND window, int position) {
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    if (!bar) return false;
    if (SendMessageW(bar, PBM_GETPOS, 0, 0) != position) SendMessageW(bar, PBM_SETPOS, position, 0);
    return true;
}

bool setProgressRange(HWND window, int minimum, int maximum) {
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    if (!bar) return false;
    SendMessageW(bar, PBM_SETRANGE32, minimum, maximum);
    return setProgressPosition(window, minimum);
}

bool operationActive() { return mainWindowState.operationActive; }

void abandonOperation() {
    if (!mainWindowState.operationThread) return;
    CloseHandle(mainWindowState.operationThread);
    mainWindowState.operationThread = nullptr;
}

void onTimer(HWND window, UINT_PTR timer) {
    if (timer == kProgressTimer) drawLatestProgress(window);
    if (timer == kOperationEndTimer) onOperationEndTimer(window);
}
