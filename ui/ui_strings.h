// The UI string set: texts of message boxes, status lines and dialogs, loaded once at start-up.
#pragma once

// The entries by name, valued by their string-table id.
enum UiStringId : unsigned {
#define UI_STRING(name, id, text) name = id,
#define UI_STRING_UNLOADED(name, id, text) name = id,
#include "ui/ui_strings.def"
#undef UI_STRING
#undef UI_STRING_UNLOADED
};

// Fills every buffer of the set from the program's string table. Call once on the main thread
// before other threads start; an absent entry leaves its buffer empty.
void loadUiStrings();

// The loaded text of entry `id`; "" for an entry outside the set or not loaded.
const wchar_t* uiString(UiStringId id);
