// What the dialog driver's scenarios share: finding, reading and closing the program's dialogs.
// The scenarios themselves live one file a subject: discover_scenarios.cpp,
// enter_bootload_scenarios.cpp and auxiliary_dialog_scenarios.cpp; each returns the failures so far.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tests/gui/driver_support.h"

// The visible dialog of this title once it shows; null, counted as a failure, when it never does.
HWND waitDialog(const wchar_t* title, DWORD timeoutMs);
bool gone(HWND window, DWORD timeoutMs);
bool visible(HWND dialog, int id);
bool enabled(HWND dialog, int id);
std::wstring itemText(HWND dialog, int id);
void command(HWND window, int id, WORD code = BN_CLICKED);
// Presses `button` and checks that the dialog goes within `timeoutMs`.
void closeWith(HWND dialog, int button, DWORD timeoutMs, const char* what);
// Clicks the main window's radio of a connection mode and waits until it is checked.
void chooseMode(bool networkMode);

uint32_t rgbOf(COLORREF colour);
int countColour(const Pixels& pixels, uint32_t rgb);

// Every scenario's frame: runs `body` on `dialog` when it came (a dialog that never came has
// been counted already) and returns the failures so far.
int withDialog(HWND dialog, const std::function<void(HWND)>& body);

// The Discover dialog.
int discoverNetworkFirst(int expected);
int discoverNetworkBootload(const wchar_t* bootloadUnit, const wchar_t* grey, const wchar_t* green);
int discoverReturned(const wchar_t* address, bool bootloadMode);
int discoverApplicationUnit(const wchar_t* address);
int discoverSerial(const wchar_t* port);
int discoverOrderOpen(const wchar_t* bootloadUnit);
int discoverOrderCheck(const wchar_t* laterUnit);
int discoverStaleAnswer(const wchar_t* slowUnit);
int discoverOneThread(const wchar_t* port);
int discoverCancel();

// The Enter Bootload dialog.
int enterBootloadOpen(const wchar_t* address);
int enterBootloadWrongPin();
int answerFailure();
int enterBootloadRightPin(const wchar_t* address, const wchar_t* pin);

// Help pages, Version Information with its notes, About.
int helpPages(int menuId, const wchar_t* title, int pages, const char* shotName);
int versionInformation();
int about();
