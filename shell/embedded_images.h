// Which firmware images this build carries; set once at start-up, read by the main window.
#pragma once

extern bool hexImagePresent;
extern bool flashImagePresent;

// Sets the two flags from the embedded images loadEmbeddedContent loaded: an application image
// with at least one data record, a flash image of at least one byte.
// Sets the Server Firmware / Server UI Overwrite defaults; true when at least one image loaded.
bool checkEmbeddedImages();
