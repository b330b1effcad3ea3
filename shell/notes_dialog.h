// Notes (template 159): a NOTES resource of the program in a read-only, fixed-pitch edit.
#pragma once

#include <windows.h>

// IDCANCEL at once when the build carries no such resource.
INT_PTR showNotes(HINSTANCE instance, HWND owner, const wchar_t* notesName);
