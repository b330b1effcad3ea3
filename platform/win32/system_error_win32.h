// The system's own words for a Win32 error code, for messages the user reads.
#pragma once

#include <windows.h>

#include <string>

// FormatMessage's text without its closing full stop and line break; "error N" when it has none.
std::string systemErrorText(DWORD code);
