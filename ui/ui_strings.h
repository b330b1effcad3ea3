// The UI string set: texts of message boxes, status lines and dialogs, loaded once at start-up.
#pragma once

// Fills every buffer of the set from the program's string table. Call once on the main thread
// before other threads start; an absent entry leaves its buffer empty.
void loadUiStrings();

// The loaded text of entry `id`; "" for an entry outside the set or not loaded.
const wchar_t* uiString(unsigned id);
