// Which firmware images this build carries; set once at start-up, read by the main window.
#pragma once

extern bool hexImagePresent;
extern bool flashImagePresent;

// Looks up P32_APPLICATION ("HEX") and P32_FLASH ("BIN") and sets the two flags and the
// Server Firmware / Server UI Overwrite defaults; true when at least one image is there.
bool checkEmbeddedImages();
