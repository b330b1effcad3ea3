// The Discover dialog (template 145): units reported by a discovery thread, drawn by the
// dialog, with the versions of a selected bootload-mode unit.
//
//   ip_discover_thread / com_discover_thread --UNIT_FOUND--> dialog --DeviceRequest--> worker
//   worker --BOOTLOADER_FOUND | NO_BOOTLOADER, APP_VERSION, QUERY_DONE--> dialog
#pragma once

#include <windows.h>

#include <cstdint>

// One listed unit; the list box holds its address as the item's data.
struct UnitEntry {
    uint32_t ipAddress = 0;  // network byte order; 0 for a serial unit
    uint32_t linkLocal = 0;
    uint32_t otherSubnet = 0;
    uint32_t portIndex = 0;  // index in comPortTable; 0 for a network unit
    uint32_t bootload = 0;
    // How often the unit has answered while listed: the tests see discovery go round by it.
    uint32_t reports = 0;
    wchar_t displayText[64] = {};
};

// The running discovery thread, or null; used only by the dialog's thread.
extern HANDLE discoveryThread;

// Joins the running thread, if any, then starts ip_discover_thread (networkMode) or
// com_discover_thread reporting to the open dialog.
void startDiscovery(bool networkMode);
// Sets discoveryStop and joins the running thread, if any.
void stopDiscovery();

// The dialog's result for a chosen entry: its address, or 0xFFFFFF00 | portIndex.
uint32_t discoverResultOf(const UnitEntry& entry);
