// The tray icon: status only (no mouse input), animated while the shell is busy.
#pragma once

#include <windows.h>

// Adds the icon (frame 1) and starts tray_icon_thread.
void trayStart(HINSTANCE instance, HWND mainWindow);
// Stops the thread (within one 150 or 250 ms sleep), then removes the icon.
void trayStop(HINSTANCE instance, HWND mainWindow);
// Busy: the icon cycles frames 137, 139, 141, 143 every 150 ms. Idle: frame 137.
void trayAnimateOn();
void trayAnimateOff();
