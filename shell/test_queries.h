// Test hooks: Wine keeps a menu inside its process, and a query's end shows nowhere on screen, so
// the GUI tests ask the main window by registered messages of these names.
#pragma once

// wParam = a menu item's command; the answer is GetMenuState of that item.
inline constexpr wchar_t kMenuStateQueryName[] = L"ZTUpdater.MenuState";
// The answer is 1 once the worker has answered the last version query the window asked, probes
// included, else 0.
inline constexpr wchar_t kQueryAnsweredQueryName[] = L"ZTUpdater.QueryAnswered";
