// The Enter Bootload dialog's scenarios: the PIN check, a wrong PIN's failure box and the right
// PIN's wait before the dialog ends.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "resources/resource.h"
#include "tests/gui/dialog_driver.h"

namespace {

void setAddress(const wchar_t* text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    swscanf(text, L"%u.%u.%u.%u", &a, &b, &c, &d);
    HWND control = GetDlgItem(mainWindow(), IDC_IP_ADDRESS);
    SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
    SendMessageW(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

HWND openEnterBootload(const wchar_t* address) {
    HWND window = mainWindow();
    chooseMode(true);
    setAddress(address);
    check(waitFor([&] { return enabled(window, IDC_ENTER_BOOTLOAD); }, 30000),
          "application-mode unit: Enter Bootload enabled");
    // The address control may report its change more than once; let every query it started end.
    check(waitFor(lastQueryAnswered, 30000), "the last query has ended");
    check(waitFor([&] { return enabled(window, IDC_ENTER_BOOTLOAD); }, 30000), "the queries have settled");
    command(window, IDC_ENTER_BOOTLOAD);
    return waitDialog(L"Enter Bootload", 30000);
}

// The edit sends its EN_CHANGE, and the dialog sets OK, before WM_SETTEXT returns.
void typePin(HWND dialog, const wchar_t* pin) {
    SendDlgItemMessageW(dialog, IDC_PIN, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pin));
}

int pinChecks(HWND dialog) {
    check(!enabled(dialog, IDOK), "OK disabled at start");
    const wchar_t* refused[] = {L"123", L"12345", L"12a4", L"1 34", L""};
    for (const wchar_t* pin : refused) {
        typePin(dialog, pin);
        check(!enabled(dialog, IDOK), std::wstring(L"OK disabled for \"") + pin + L"\"");
    }
    typePin(dialog, L"0000");
    check(enabled(dialog, IDOK), "OK enabled for four digits");
    return failures;
}

void pressEnter() { sendInputs({key(VK_RETURN, true), key(VK_RETURN, false)}); }

}  // namespace

// Leaves the dialog open, so the script can give the unit a fresh count of commands.
int enterBootloadOpen(const wchar_t* address) {
    return withDialog(openEnterBootload(address), [&](HWND dialog) {
        pinChecks(dialog);
        screenshot("enter-bootload");
    });
}

// Leaves the failure box open, so the script can stop the unit before the main window asks it
// again.
int enterBootloadWrongPin() {
    return withDialog(waitDialog(L"Enter Bootload", 30000), [&](HWND dialog) {
        typePin(dialog, L"9999");
        command(dialog, IDOK);
        HWND box = waitDialog(L"Bootload Mode", 30000);
        check(box != nullptr, "a box follows the wrong PIN");
    });
}

int answerFailure() {
    HWND dialog = findDialog(L"Enter Bootload");
    screenshot("enter-bootload-failed");
    answerBox(L"Bootload Mode", L"Unable to enter Bootload Mode.", IDOK, 30000);
    check(!dialog || gone(dialog, 30000), "the dialog ends after the failure");
    return failures;
}

// Typed on the keyboard: Enter after three digits starts nothing, after the fourth it is OK.
int enterBootloadRightPin(const wchar_t* address, const wchar_t* pin) {
    return withDialog(openEnterBootload(address), [&](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_PIN);
        SetForegroundWindow(dialog);
        clickInto(edit);
        check(waitFor([&] { return focusIn(dialog, edit); }, 30000), "focus in the PIN edit");
        std::wstring digits(pin);
        typeKeys(digits.substr(0, 3));
        check(waitFor([&] { return textOf(edit) == digits.substr(0, 3); }, 30000), "three digits typed");
        pressEnter();
        check(!waitFor([] { return findDialog(L"Bootload Mode") != nullptr; }, 1500) && IsWindowEnabled(dialog),
              "Enter with three digits starts nothing");
        typeKeys(digits.substr(3));
        check(waitFor([&] { return textOf(edit) == digits && enabled(dialog, IDOK); }, 30000),
              "the fourth digit enables OK");
        pressEnter();
        answerBox(L"Bootload Mode", L"Bootload Mode Enabled.", IDOK, 30000);
        // Under Wine without a window manager the box takes about 2 s to unmap before
        // MessageBoxW returns; the wait starts then, with the dialog disabled.
        check(waitFor([&] { return IsWindow(dialog) && !IsWindowEnabled(dialog); }, 30000),
              "the dialog waits, disabled, after the box");
        DWORD waitStart = GetTickCount();
        check(gone(dialog, 30000), "the dialog ends after its wait");
        DWORD waited = GetTickCount() - waitStart;
        std::printf("     closed %lu ms after it was disabled\n", static_cast<unsigned long>(waited));
        check(waited >= 4500 && waited < 5800, "about 5 s between the box and the end");
        HWND window = mainWindow();
        check(waitFor([&] { return enabled(window, IDC_UPDATE) && !enabled(window, IDC_ENTER_BOOTLOAD); }, 30000),
              "the main window queries again: Update enabled, Enter Bootload disabled");
    });
}
