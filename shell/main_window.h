// The main window: a modeless dialog (template 131) of the registered class "FWUPDATER".
//
//   commands           main_window_commands.cpp   buttons, menu, connection controls
//   worker messages    main_window_worker.cpp     WMU_* answers and the end of every operation
//   device change      main_window_devices.cpp    COM list refills
//   enabling, connection address                  main_window_controls.cpp
#pragma once

#include <windows.h>

// Registers "FWUPDATER" (string 110) with mainWindowProc and icon 133; remembers the instance
// for the dialogs the window opens. False when registration fails.
bool registerMainWindowClass(HINSTANCE instance);
// Creates the window from template 131 without owner; null on failure.
HWND createMainWindow(HINSTANCE instance);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Enabling operations: each sets the controls it names to `on`.
void setUpdateEnabled(HWND window, bool on);
void setEnterBootloadEnabled(HWND window, bool on);
void setExitBootloadEnabled(HWND window, bool on);
void setActionButtonsEnabled(HWND window, bool on);
void setIpControlsEnabled(HWND window, bool on);
void setComControlsEnabled(HWND window, bool on);
void setMainControlsEnabled(HWND window, bool on);

// Whether an update or exit-bootload operation is between its start and the end of finishOperation.
bool operationActive();
// At shutdown: lets an operation that is still going end with the process.
void abandonOperation();

bool setProgressPosition(HWND window, int position);
bool setProgressRange(HWND window, int minimum, int maximum);
