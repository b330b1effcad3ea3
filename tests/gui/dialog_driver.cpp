// Drives the dialogs of the running ztupdater.exe from outside, as a user would: opens them
// through the main window, reads their controls, the listed units (from the program's memory)
// and the drawn pixels, and saves screenshots. One scenario per run; exit code 0 when every
// check of it held.
#include "tests/gui/dialog_driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "resources/resource.h"

HWND waitDialog(const wchar_t* title, DWORD timeoutMs) {
    HWND dialog = nullptr;
    waitFor([&] { return (dialog = findDialog(title)) != nullptr; }, timeoutMs);
    check(dialog != nullptr, std::wstring(L"dialog \"") + title + L"\" appears");
    return dialog;
}

bool gone(HWND window, DWORD timeoutMs) {
    return waitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

bool visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
std::wstring itemText(HWND dialog, int id) { return textOf(GetDlgItem(dialog, id)); }

void command(HWND window, int id, WORD code) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void closeWith(HWND dialog, int button, DWORD timeoutMs, const char* what) {
    command(dialog, button);
    check(gone(dialog, timeoutMs), what);
}

void chooseMode(bool networkMode) {
    HWND radio = GetDlgItem(mainWindow(), networkMode ? IDC_IP_RADIO : IDC_COM_RADIO);
    PostMessageW(radio, BM_CLICK, 0, 0);
    check(waitFor([&] { return SendMessageW(radio, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 30000),
          networkMode ? "IP mode chosen" : "COM mode chosen");
}

uint32_t rgbOf(COLORREF colour) { return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour); }

int countColour(const Pixels& pixels, uint32_t rgb) {
    int count = 0;
    for (uint32_t value : pixels.rgb) count += value == rgb;
    return count;
}

int withDialog(HWND dialog, const std::function<void(HWND)>& body) {
    if (dialog) body(dialog);
    return failures;
}

int wmain(int argc, wchar_t** argv) {
    Scenario line;
    if (!readScenario(argc, argv, "dialog_driver", line)) return 2;
    const std::wstring& scenario = line.name;
    const wchar_t* arg = line.arg(0);
    const wchar_t* arg2 = line.arg(1);
    const wchar_t* arg3 = line.arg(2);
    check(waitMainWindow(), "main window found");
    if (scenario == L"discover-first") return discoverNetworkFirst(_wtoi(arg));
    if (scenario == L"discover-bootload") return discoverNetworkBootload(arg, arg2, arg3);
    if (scenario == L"discover-returned") return discoverReturned(arg, true);
    if (scenario == L"discover-application") return discoverApplicationUnit(arg);
    if (scenario == L"discover-serial") return discoverSerial(arg);
    if (scenario == L"discover-cancel") return discoverCancel();
    if (scenario == L"discover-order-open") return discoverOrderOpen(arg);
    if (scenario == L"discover-order-check") return discoverOrderCheck(arg);
    if (scenario == L"discover-stale") return discoverStaleAnswer(arg);
    if (scenario == L"discover-one-thread") return discoverOneThread(arg);
    if (scenario == L"pin-open") return enterBootloadOpen(arg);
    if (scenario == L"pin-wrong") return enterBootloadWrongPin();
    if (scenario == L"pin-wrong-answer") return answerFailure();
    if (scenario == L"pin-right") return enterBootloadRightPin(arg, arg2);
    if (scenario == L"help-update")
        return helpPages(IDM_UPDATE_INSTRUCTIONS, L"Updater Instructions", 7, "help-update");
    if (scenario == L"help-unit") return helpPages(IDM_UNIT_PREPARATIONS, L"Unit Preparation", 1, "help-unit");
    if (scenario == L"version-information") return versionInformation();
    if (scenario == L"about") return about();
    std::fprintf(stderr, "unknown scenario\n");
    return 2;
}
