// Fonts the dialogs make for themselves, sized in points at the window's own resolution.
#pragma once

#include <windows.h>

// A font of `points` at `window`'s pixels per inch; the caller deletes it (DeleteObject).
// `face` nullptr: the templates' dialog font.
HFONT createPointFont(HWND window, int points, int weight, BYTE pitchAndFamily = VARIABLE_PITCH | FF_SWISS,
                      const wchar_t* face = nullptr);
