// The Enter Bootload dialog (template 161): the Installer PIN, then the probes and the unlock
// sequence on a thread of their own while the dialog waits disabled.
//
//   OK --> exchange thread: probe (serial rates in order, or one TCP connection), unlock
//      --> WMU-private completion message --> result box, 5 s wait on success, EndDialog
//   Results: 1 enabled, 2 unlock failed, 0 cancelled.
#pragma once

#include <windows.h>

constexpr INT_PTR kEnterBootloadEnabled = 1;
constexpr INT_PTR kEnterBootloadFailed = 2;
constexpr INT_PTR kEnterBootloadCancelled = 0;

// OK may be pressed only for exactly four decimal digits.
bool pinTextAcceptable(HWND edit);
