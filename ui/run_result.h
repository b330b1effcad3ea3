// What the end of an update or exit-bootload run says to the user, the same in the window's
// message box and in ztupdate's report.
#pragma once

#include <cstdint>

struct RunResultText {
    const wchar_t* text;   // the message box's text
    const wchar_t* title;  // its title: "Success" or "Error"
    bool success;
};

// For a terminal message (isTerminalMessage); anything else reads as a run that could not complete.
RunResultText runResultText(uint32_t terminalMessage);
