// Which firmware images this build carries; set once at start-up, read by the main window.
#pragma once

extern bool hexImagePresent;
extern bool flashImagePresent;

// Loads P32_APPLICATION ("HEX") and P32_FLASH ("BIN") and sets the two flags from what loaded:
// an application image with at least one data record, a flash image of at least one byte.
// Sets the Server Firmware / Server UI Overwrite defaults; true when at least one image loaded.
bool checkEmbeddedImages();
