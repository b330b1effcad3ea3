// The modal dialogs the main window opens, each owned by `owner`.
//
//   Discover (template 145)          shell/discover_dialog.cpp
//   Enter Bootload (template 161)    shell/enter_bootload_dialog.cpp
//   About (103), help pages (147), Version Information (158) and its Notes (159)
//                                    shell/about_dialog.cpp, help_dialog.cpp,
//                                    version_info_dialog.cpp, notes_dialog.cpp
#pragma once

#include <windows.h>

class PropertiesContainer;
struct UnitAddress;

// Result 2 (IDCANCEL) when cancelled. Network mode: the chosen unit's IPv4 address in network
// byte order. Serial mode: 0xFFFFFF00 | the port's index in comPortTable.
INT_PTR showDiscoverDialog(HINSTANCE instance, HWND owner, bool networkMode);

// The dialog opens its own links to the unit at `unit`.
INT_PTR showEnterBootloadDialog(HINSTANCE instance, HWND owner, const UnitAddress& unit);

void showAboutDialog(HINSTANCE instance, HWND owner);
// Pages keyPrefix.1, keyPrefix.2, ... of `properties`, up to the first missing one.
void showHelpPages(HINSTANCE instance, HWND owner, const PropertiesContainer& properties, const wchar_t* keyPrefix);
void showVersionInformation(HINSTANCE instance, HWND owner);
