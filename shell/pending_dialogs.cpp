// Stand-ins for the dialogs whose templates and code come with their own files: each opens
// nothing and answers as a cancelled dialog would. A dialog's own file replaces its stand-in.
#include "shell/dialogs.h"

INT_PTR showDiscoverDialog(HINSTANCE, HWND, bool) { return IDCANCEL; }

INT_PTR showEnterBootloadDialog(HINSTANCE, HWND, Transport&) { return IDCANCEL; }

void showAboutDialog(HINSTANCE, HWND) {}

void showHelpPages(HINSTANCE, HWND, const PropertiesContainer&, const wchar_t*) {}

void showVersionInformation(HINSTANCE, HWND) {}
