// The splash picture shown on a thread of its own while start-up loads the content.
#pragma once

#include <windows.h>

// Starts splash_screen_thread, which shows template 160 until endSplash.
void startSplash(HINSTANCE instance);
// Ends the splash thread and waits for it without limit.
void endSplash();
