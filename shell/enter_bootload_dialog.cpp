// The Enter Bootload dialog: the PIN check on every change and the unlock run off the UI thread.
#include "shell/enter_bootload_dialog.h"

#include <windows.h>
#include <process.h>

#include "commandport/command_port.h"
#include "resources/resource.h"
#include "shell/dialogs.h"
#include "transport/unit_address.h"
#include "ui/ui_strings.h"

namespace {

constexpr UINT WMU_ENTER_BOOTLOAD_FINISHED = WM_APP + 0x100;
constexpr UINT_PTR kSettleTimer = 1;
constexpr UINT kSettleMs = 5000;
constexpr int kPinDigits = 4;
constexpr int kPinReadChars = 16;

// One dialog at a time; its exchange thread reads the unit's address and the PIN, and posts its
// outcome as the completion message's wParam.
struct EnterBootloadState {
    const UnitAddress* unit = nullptr;
    HWND dialog = nullptr;
    char pin[kPinReadChars] = {};
    HANDLE exchangeThread = nullptr;
    bool busy = false;
};

EnterBootloadState state;

unsigned __stdcall exchangeThreadEntry(void*) {
    EnterBootloadResult result = enterBootload(*state.unit, state.pin);
    PostMessageW(state.dialog, WMU_ENTER_BOOTLOAD_FINISHED, static_cast<WPARAM>(result), 0);
    return 0;
}

// The PIN goes out as 8-bit text; the edit accepts digits only, and pasted text is refused by
// the check before OK can be pressed.
void readPin(HWND dialog) {
    wchar_t text[kPinReadChars] = {};
    GetDlgItemTextW(dialog, IDC_PIN, text, kPinReadChars);
    for (int i = 0; i < kPinReadChars; ++i) state.pin[i] = static_cast<char>(text[i]);
    state.pin[kPinReadChars - 1] = '\0';
}

void setBusy(HWND dialog, bool busy) {
    state.busy = busy;
    EnableWindow(dialog, !busy);
}

void onOk(HWND dialog) {
    if (state.busy || !state.unit) return;
    readPin(dialog);
    setBusy(dialog, true);
    uintptr_t handle = _beginthreadex(nullptr, 0, exchangeThreadEntry, nullptr, 0, nullptr);
    state.exchangeThread = reinterpret_cast<HANDLE>(handle);
    if (!state.exchangeThread) setBusy(dialog, false);
}

void joinExchangeThread() {
    if (!state.exchangeThread) return;
    WaitForSingleObject(state.exchangeThread, INFINITE);
    CloseHandle(state.exchangeThread);
    state.exchangeThread = nullptr;
}

// The dialog stays disabled through the box's wait on success, as the unit restarts.
void onExchangesFinished(HWND dialog, EnterBootloadResult result) {
    joinExchangeThread();
    switch (result) {
        case EnterBootloadResult::kEnabled:
            EnableWindow(dialog, TRUE);
            MessageBoxW(dialog, uiString(kBootloadModeEnabled), uiString(kBootloadModeTitle),
                        MB_OK | MB_ICONINFORMATION);
            EnableWindow(dialog, FALSE);
            SetTimer(dialog, kSettleTimer, kSettleMs, nullptr);
            break;
        case EnterBootloadResult::kUnlockFailed:
            EnableWindow(dialog, TRUE);
            MessageBoxW(dialog, uiString(kUnableToEnterBootloadMode), uiString(kBootloadModeTitle),
                        MB_OK | MB_ICONERROR);
            EndDialog(dialog, kEnterBootloadFailed);
            break;
        case EnterBootloadResult::kUnitNotFound:
            setBusy(dialog, false);
            SetFocus(GetDlgItem(dialog, IDC_PIN));
            break;
    }
}

void onSettled(HWND dialog) {
    KillTimer(dialog, kSettleTimer);
    EndDialog(dialog, kEnterBootloadEnabled);
}

void onCommand(HWND dialog, WORD id, WORD notification) {
    switch (id) {
        case IDC_PIN:
            if (notification == EN_CHANGE) {
                EnableWindow(GetDlgItem(dialog, IDOK), pinTextAcceptable(GetDlgItem(dialog, IDC_PIN)));
            }
            break;
        case IDOK: onOk(dialog); break;
        case IDCANCEL:
            if (!state.busy) EndDialog(dialog, kEnterBootloadCancelled);
            break;
        default: break;
    }
}

INT_PTR CALLBACK enterBootloadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            state = {};
            state.unit = reinterpret_cast<const UnitAddress*>(lParam);
            state.dialog = dialog;
            EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
            return TRUE;
        case WM_COMMAND: onCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
        case WMU_ENTER_BOOTLOAD_FINISHED:
            onExchangesFinished(dialog, static_cast<EnterBootloadResult>(wParam));
            return TRUE;
        case WM_TIMER:
            if (wParam == kSettleTimer) onSettled(dialog);
            return TRUE;
        case WM_DESTROY:
            joinExchangeThread();
            state.unit = nullptr;
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

bool pinTextAcceptable(HWND edit) {
    if (GetWindowTextLengthW(edit) != kPinDigits) return false;
    wchar_t text[kPinDigits + 1] = {};
    if (GetWindowTextW(edit, text, kPinDigits + 1) != kPinDigits) return false;
    return isValidPin(text);
}

INT_PTR showEnterBootloadDialog(HINSTANCE instance, HWND owner, const UnitAddress& unit) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ENTER_BOOTLOAD), owner, enterBootloadDialogProc,
                           reinterpret_cast<LPARAM>(&unit));
}
