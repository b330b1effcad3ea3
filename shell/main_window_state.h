// State the main window's files share; main thread only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "bootloader/update_sequence.h"
#include "platform/native_window_sink.h"
#include "transport/unit_address.h"
#include "ui/coalescing_progress_sink.h"

// What the connection controls name: an address in IP mode, a list index in COM mode.
struct ConnectionKey {
    bool ipMode = true;
    DWORD address = 0;
    int port = -1;
    bool operator==(const ConnectionKey&) const = default;
};

struct MainWindowState {
    HINSTANCE instance = nullptr;
    // Where worker threads report, through `sink`, which coalesces the progress positions.
    // Never freed: an operation still going at exit may post to them.
    platform::NativeWindowSink* nativeSink = nullptr;
    CoalescingProgressSink* sink = nullptr;
    HANDLE operationThread = nullptr;
    bool operationActive = false;
    // Yes to the close question during an operation: the update stops at its next request and
    // the window closes once the thread has ended.
    std::atomic<bool> stopRequested{false};
    bool closeWhenFinished = false;
    // The control that had the focus when the window was last deactivated.
    HWND savedFocus = nullptr;
    HCURSOR busyCursor = nullptr;
    HCURSOR savedCursor = nullptr;
    // An Enter Bootload answer that came during an operation, applied when it ends.
    std::optional<bool> deferredEnterBootload;
    // The connection the last version query went to; an operation starts only on that one.
    std::optional<ConnectionKey> queriedConnection;
    // The number of the last version query asked, and of the last one whose QUERY_DONE came.
    uint32_t queriesAsked = 0;
    uint32_t lastQueryAnswered = 0;
};

extern MainWindowState mainWindowState;
// The record handed to bootload_thread and exit_bootload_thread; its transport is replaced
// at every start.
extern BootloadRequest operationRequest;

// Dialog-initialisation, split from the window procedure.
void initMainWindow(HWND window);

// Command, worker-message and device-change handlers.
void onCommand(HWND window, WORD id, WORD notification);
bool onWorkerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void onDeviceChange(HWND window, WPARAM event);

// Fills the COM list from comPortTable; an empty list forces IP mode.
void fillComPortList(HWND window);

bool ipModeSelected(HWND window);
// IP mode, or COM mode with a port selected: there is a unit to talk to.
bool connectionChosen(HWND window);
// The unit the connection controls name; none in COM mode without a selected port.
std::optional<UnitAddress> connectionAddress(HWND window);
ConnectionKey shownConnection(HWND window);
// Queues a version query for the connection the controls show and remembers it as the one
// queried; nothing when no port is selected.
void queryConnection(HWND window);

void setVersionText(HWND window, const wchar_t* text);

// Timers of the main window: the bar's next drawing, and the wait for an operation's thread.
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT_PTR kOperationEndTimer = 2;
void onTimer(HWND window, UINT_PTR timer);

// Gives the focus back to the control that had it when it can take it; otherwise leaves it on
// a control of the window that has it, or gives it to the first tab stop (to the window itself
// during an operation, when every control is disabled).
void restoreFocus(HWND window);
