// Test hook: Wine keeps a menu inside its process, so the GUI tests ask the main window for the
// state of one of its menu items. The window answers the registered message of this name,
// wParam = the item's command, with GetMenuState of that item.
#pragma once

inline constexpr wchar_t kMenuStateQueryName[] = L"ZTUpdater.MenuState";
