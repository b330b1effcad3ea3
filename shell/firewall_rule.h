// The Windows Firewall rule that lets discovery replies (UDP from remote port 30303) in.
#pragma once

#include <windows.h>

// Adds the inbound rule "Announce" unless it is there already. Every failing step ends the
// attempt quietly; only a refusal for lack of rights is shown, in a box owned by mainWindow.
void addFirewallRule(HWND mainWindow);
