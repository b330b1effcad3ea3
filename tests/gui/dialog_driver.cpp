// Drives the dialogs of the running ztupdater.exe from outside, as a user would: opens them
// through the main window, reads their controls, the listed units (from the program's memory)
// and the drawn pixels, and saves screenshots. One scenario per run; exit code 0 when every
// check of it held.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "shell/discover_dialog.h"
#include "tests/gui/driver_support.h"
#include "ui/worker_messages.h"

namespace {

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

void command(HWND window, int id, WORD code = BN_CLICKED) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Presses `button` and checks that the dialog goes within `timeoutMs`.
void closeWith(HWND dialog, int button, DWORD timeoutMs, const char* what) {
    command(dialog, button);
    check(gone(dialog, timeoutMs), what);
}

// --- pixels and screenshots ------------------------------------------------------------------

uint32_t rgbOf(COLORREF colour) { return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour); }

int countColour(const Pixels& pixels, uint32_t rgb) {
    int count = 0;
    for (uint32_t value : pixels.rgb) count += value == rgb;
    return count;
}

// How far apart two areas of one size are, summed over every channel of every pixel.
long distanceOf(const Pixels& a, const Pixels& b) {
    long distance = 0;
    for (size_t k = 0; k < a.rgb.size() && k < b.rgb.size(); ++k) {
        for (int shift : {0, 8, 16})
            distance += std::abs(int((a.rgb[k] >> shift) & 0xFF) - int((b.rgb[k] >> shift) & 0xFF));
    }
    return distance;
}

// `text` drawn as the list draws an entry of `itemHeight` (Arial 8 pt of `weight`, window text
// on window colour, vertically centred), cut like rowPixels. Wine may draw bold with little
// extra ink, so a row is judged by which weight's drawing it matches, not by its darkness.
Pixels renderRow(const wchar_t* text, int weight, int width, int height, int itemHeight) {
    Canvas canvas(width, height);
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(8 * GetDeviceCaps(canvas.screen(), LOGPIXELSY) / 72.0));
    font.lfWeight = weight;
    font.lfCharSet = ANSI_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    std::wcscpy(font.lfFaceName, L"Arial");
    HFONT handle = CreateFontIndirectW(&font);
    HDC context = canvas.context();
    HGDIOBJ previousFont = SelectObject(context, handle);
    RECT all{0, 0, width, height};
    FillRect(context, &all, GetSysColorBrush(COLOR_WINDOW));
    SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(context, GetSysColor(COLOR_WINDOW));
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    TextOutW(context, -1, (itemHeight - metrics.tmHeight) / 2 - 1, text, static_cast<int>(std::wcslen(text)));
    Pixels out = canvas.pixels();
    SelectObject(context, previousFont);
    DeleteObject(handle);
    return out;
}

// True when the drawn row matches `text` in bold better than in the normal weight.
bool drawnBold(HWND dialog, const Pixels& row, const wchar_t* text) {
    int itemHeight = static_cast<int>(SendMessageW(GetDlgItem(dialog, IDC_UNIT_LIST), LB_GETITEMHEIGHT, 0, 0));
    long toBold = distanceOf(row, renderRow(text, FW_BOLD, row.width, row.height, itemHeight));
    long toNormal = distanceOf(row, renderRow(text, FW_NORMAL, row.width, row.height, itemHeight));
    std::printf("     %ls: distance to bold %ld, to normal %ld\n", text, toBold, toNormal);
    return toBold < toNormal;
}

// --- the Discover dialog ---------------------------------------------------------------------

// The entries the program's list box points at, read from its memory, in list order.
std::vector<UnitEntry> listedUnits(HWND dialog) {
    std::vector<UnitEntry> units;
    HWND list = GetDlgItem(dialog, IDC_UNIT_LIST);
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) return units;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        LRESULT data = SendMessageW(list, LB_GETITEMDATA, index, 0);
        UnitEntry entry;
        SIZE_T read = 0;
        if (data != LB_ERR && ReadProcessMemory(process, reinterpret_cast<void*>(data), &entry, sizeof entry, &read) &&
            read == sizeof entry) {
            units.push_back(entry);
        }
    }
    CloseHandle(process);
    return units;
}

int indexOf(const std::vector<UnitEntry>& units, const wchar_t* text) {
    for (size_t k = 0; k < units.size(); ++k) {
        if (std::wcscmp(units[k].displayText, text) == 0) return static_cast<int>(k);
    }
    return -1;
}

void printUnits(const std::vector<UnitEntry>& units) {
    for (const UnitEntry& unit : units) {
        std::printf("     %-16ls bootload %u link-local %u other-subnet %u port %u\n", unit.displayText, unit.bootload,
                    unit.linkLocal, unit.otherSubnet, unit.portIndex);
    }
}

// The drawn row of list entry `index`, on the screen, inside the focus rectangle's frame.
Pixels rowPixels(HWND dialog, int index) {
    HWND list = GetDlgItem(dialog, IDC_UNIT_LIST);
    int height = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    int top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
    RECT client{};
    GetClientRect(list, &client);
    POINT origin{0, (index - top) * height};
    ClientToScreen(list, &origin);
    RECT row{origin.x + 1, origin.y + 1, origin.x + client.right - 1, origin.y + height - 1};
    return grab(row);
}

// Clicks the radio of a connection mode and waits until it is checked.
void chooseMode(bool networkMode) {
    HWND radio = GetDlgItem(mainWindow(), networkMode ? IDC_IP_RADIO : IDC_COM_RADIO);
    PostMessageW(radio, BM_CLICK, 0, 0);
    check(waitFor([&] { return SendMessageW(radio, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 30000),
          networkMode ? "IP mode chosen" : "COM mode chosen");
}

// True when none of the first `count` rows of the list is blank.
bool everyRowDrawn(HWND dialog, size_t count) {
    const uint32_t background = rgbOf(GetSysColor(COLOR_WINDOW));
    for (size_t index = 0; index < count; ++index) {
        const Pixels row = rowPixels(dialog, static_cast<int>(index));
        if (countColour(row, background) == static_cast<int>(row.rgb.size())) return false;
    }
    return true;
}

HWND openDiscover(bool networkMode) {
    chooseMode(networkMode);
    command(mainWindow(), IDC_DISCOVER);
    return waitDialog(L"Discover", 30000);
}

bool anyMode(const UnitEntry&) { return true; }
bool inBootloadMode(const UnitEntry& unit) { return unit.bootload == 1; }

// Waits until the dialog lists an entry reading `text` that `wanted` accepts; returns the
// entries as last read.
std::vector<UnitEntry> waitListed(HWND dialog, const wchar_t* text, DWORD timeoutMs, const char* what,
                                  bool (*wanted)(const UnitEntry&) = anyMode) {
    std::vector<UnitEntry> units;
    check(waitFor(
              [&] {
                  units = listedUnits(dialog);
                  int index = indexOf(units, text);
                  return index >= 0 && wanted(units[index]);
              },
              timeoutMs),
          what);
    return units;
}

void selectUnit(HWND dialog, int index) {
    SendDlgItemMessageW(dialog, IDC_UNIT_LIST, LB_SETCURSEL, index, 0);
    command(dialog, IDC_UNIT_LIST, LBN_SELCHANGE);
}

// Opens Discover in network mode and selects `address` once it is listed; null when either fails.
HWND openDiscoverAndSelect(const wchar_t* address, const char* listedWhat) {
    HWND dialog = openDiscover(true);
    if (!dialog) return nullptr;
    int index = indexOf(waitListed(dialog, address, 30000, listedWhat), address);
    if (index < 0) return nullptr;
    selectUnit(dialog, index);
    return dialog;
}

// The selected unit's versions, as every simulated unit reports them.
void checkVersionsShown(HWND dialog) {
    check(waitFor(
              [&] {
                  return itemText(dialog, IDC_BOOTLOADER_VERSION) == L"3.1" &&
                         itemText(dialog, IDC_APP_VERSION) == L"1.0";
              },
              30000),
          "its versions: bootloader 3.1, application 1.0");
}

// Opened in network mode: the application-mode units, the one on another subnet and the
// link-local one, each once. The dialog stays open for discover-bootload.
int discoverNetworkFirst(int expected) {
    HWND dialog = openDiscover(true);
    if (!dialog) return failures;
    check(!enabled(dialog, IDOK), "OK disabled while nothing is selected");
    check(!enabled(dialog, IDC_BOOTLOADER_VERSION_LABEL) && !enabled(dialog, IDC_APP_VERSION_LABEL),
          "version labels disabled at start");
    checkTextsFit(dialog, L"MS Shell Dlg");
    check(waitFor([&] { return static_cast<int>(listedUnits(dialog).size()) >= expected; }, 30000),
          "the first units are listed");
    // More discovery cycles: every unit answers twice more.
    std::vector<UnitEntry> units;
    check(waitFor(
              [&] {
                  units = listedUnits(dialog);
                  return std::all_of(units.begin(), units.end(),
                                     [](const UnitEntry& unit) { return unit.reports >= 3; });
              },
              30000),
          "every listed unit answers again");
    printUnits(units);
    check(static_cast<int>(units.size()) == expected, "each unit listed once despite repeated replies");
    return failures;
}

int discoverNetworkBootload(const wchar_t* bootloadUnit, const wchar_t* grey, const wchar_t* green) {
    HWND dialog = waitDialog(L"Discover", 30000);
    if (!dialog) return failures;
    waitListed(dialog, bootloadUnit, 30000, "the bootload-mode unit reported later is listed");
    std::vector<UnitEntry> units = listedUnits(dialog);
    check(waitFor([&] { return everyRowDrawn(dialog, units.size()); }, 30000), "every listed unit is drawn");
    printUnits(units);
    int bootload = indexOf(units, bootloadUnit);
    check(bootload == 0 && units[0].bootload == 1, "the bootload-mode unit is drawn above the earlier ones");
    for (size_t k = 1; k < units.size(); ++k) check(units[k].bootload == 0, "the others are in application mode");
    int greyIndex = indexOf(units, grey);
    int greenIndex = indexOf(units, green);
    check(greyIndex >= 0 && units[greyIndex].otherSubnet == 1 && units[greyIndex].linkLocal == 0,
          "the unit outside the computer's subnets is flagged other-subnet");
    check(greenIndex >= 0 && units[greenIndex].linkLocal == 1 && units[greenIndex].otherSubnet == 1,
          "the link-local unit on no local subnet has both flags");
    if (greyIndex < 0 || greenIndex < 0 || bootload < 0) return failures;
    int plain = -1;
    for (size_t k = 0; k < units.size() && plain < 0; ++k) {
        if (!units[k].bootload && !units[k].linkLocal && !units[k].otherSubnet) plain = static_cast<int>(k);
    }
    check(plain >= 0, "a plain application-mode unit is listed");
    if (plain < 0) return failures;
    const uint32_t kGreen = 0x00C000, kGrey = 0x808080;
    Pixels greyRow = rowPixels(dialog, greyIndex), greenRow = rowPixels(dialog, greenIndex);
    Pixels plainRow = rowPixels(dialog, plain), boldRow = rowPixels(dialog, bootload);
    check(countColour(greyRow, kGrey) > 20 && countColour(greyRow, kGreen) == 0, "other-subnet unit drawn grey");
    check(countColour(greenRow, kGreen) > 20 && countColour(greenRow, kGrey) == 0, "green wins over grey");
    check(countColour(plainRow, kGreen) == 0 && countColour(plainRow, kGrey) == 0 &&
              countColour(plainRow, rgbOf(GetSysColor(COLOR_WINDOWTEXT))) > 20,
          "a unit on the local subnet drawn in the text colour");
    check(drawnBold(dialog, boldRow, units[bootload].displayText), "the bootload-mode unit drawn bold");
    check(!drawnBold(dialog, plainRow, units[plain].displayText), "an application-mode unit drawn in normal weight");
    screenshot("discover-network");

    selectUnit(dialog, greyIndex);
    check(waitFor([&] { return enabled(dialog, IDOK); }, 30000), "a selection enables OK");
    check(!enabled(dialog, IDC_BOOTLOADER_VERSION_LABEL) && itemText(dialog, IDC_BOOTLOADER_VERSION).empty(),
          "an application-mode unit: no versions asked for");
    selectUnit(dialog, bootload);
    check(
        waitFor([&] { return enabled(dialog, IDC_BOOTLOADER_VERSION_LABEL) && enabled(dialog, IDC_APP_VERSION_LABEL); },
                30000),
        "a bootload-mode unit: version labels enabled");
    checkVersionsShown(dialog);
    screenshot("discover-versions");
    closeWith(dialog, IDOK, 30000, "OK closes the dialog");
    return failures;
}

// The address control's four fields joined left to right (its messages take pointers that do
// not cross processes).
std::wstring shownAddress() {
    std::vector<std::pair<LONG, std::wstring>> fields;
    for (HWND child = GetWindow(GetDlgItem(mainWindow(), IDC_IP_ADDRESS), GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT box{};
        GetWindowRect(child, &box);
        fields.emplace_back(box.left, textOf(child));
    }
    std::sort(fields.begin(), fields.end());
    std::wstring text;
    for (const auto& field : fields) text += (text.empty() ? L"" : L".") + field.second;
    return text;
}

// The main window takes the chosen address and asks the unit: a bootload-mode unit enables
// Update, one running its application Enter Bootload.
int discoverReturned(const wchar_t* address, bool bootloadMode) {
    HWND window = mainWindow();
    check(waitFor([&] { return shownAddress() == address; }, 30000), "the main window shows the chosen address");
    if (bootloadMode) {
        check(waitFor([&] { return enabled(window, IDC_UPDATE) && enabled(window, IDC_EXIT_BOOTLOAD); }, 30000),
              "the main window queried the unit: Update and Exit Bootload enabled");
    } else {
        check(waitFor([&] { return enabled(window, IDC_ENTER_BOOTLOAD) && !enabled(window, IDC_UPDATE); }, 30000),
              "the main window queried the unit: Enter Bootload enabled, Update disabled");
    }
    return failures;
}

// An application-mode unit chosen: the reminder, and the unit is still returned.
int discoverApplicationUnit(const wchar_t* address) {
    HWND dialog = openDiscoverAndSelect(address, "the unit is listed");
    if (!dialog) return failures;
    check(waitFor([&] { return enabled(dialog, IDOK); }, 30000), "the selection enables OK");
    command(dialog, IDOK);
    answerBox(L"Bootload Mode", L"Please remember to place the selected unit into bootload mode.", IDOK, 30000);
    check(gone(dialog, 30000), "the dialog closes after the reminder");
    return discoverReturned(address, false);
}

int discoverSerial(const wchar_t* port) {
    HWND dialog = openDiscover(false);
    if (!dialog) return failures;
    std::vector<UnitEntry> units = waitListed(dialog, port, 60000, "the serial unit is listed");
    printUnits(units);
    int index = indexOf(units, port);
    if (index < 0) return failures;
    check(units[index].ipAddress == 0 && units[index].bootload == 1, "listed as a serial unit in bootload mode");
    UINT portIndex = units[index].portIndex;
    screenshot("discover-serial");
    selectUnit(dialog, index);
    checkVersionsShown(dialog);
    closeWith(dialog, IDOK, 30000, "OK closes the dialog");
    HWND window = mainWindow();
    check(SendDlgItemMessageW(window, IDC_COM_LIST, CB_GETCURSEL, 0, 0) == static_cast<LRESULT>(portIndex),
          "the main window selects the unit's port");
    check(waitFor([&] { return enabled(window, IDC_UPDATE) && enabled(window, IDC_EXIT_BOOTLOAD); }, 30000),
          "the main window queried the port: Update and Exit Bootload enabled");
    PostMessageW(GetDlgItem(window, IDC_IP_RADIO), BM_CLICK, 0, 0);
    return failures;
}

// Every bootload-mode unit above every application-mode one, whichever answered first.
bool bootloadUnitsFirst(const std::vector<UnitEntry>& units) {
    bool applicationSeen = false;
    for (const UnitEntry& unit : units) {
        if (unit.bootload && applicationSeen) return false;
        applicationSeen = applicationSeen || !unit.bootload;
    }
    return true;
}

// Leaves the dialog open with a bootload-mode unit listed, so the script can start an
// application-mode unit that answers after it.
int discoverOrderOpen(const wchar_t* bootloadUnit) {
    HWND dialog = openDiscover(true);
    if (!dialog) return failures;
    waitListed(dialog, bootloadUnit, 30000, "the bootload-mode unit is listed", inBootloadMode);
    return failures;
}

int discoverOrderCheck(const wchar_t* laterUnit) {
    HWND dialog = waitDialog(L"Discover", 30000);
    if (!dialog) return failures;
    std::vector<UnitEntry> units =
        waitListed(dialog, laterUnit, 30000, "the application-mode unit that answered later is listed");
    printUnits(units);
    check(bootloadUnitsFirst(units), "bootload-mode units stay above the application-mode unit that answered later");
    closeWith(dialog, IDCANCEL, 30000, "Cancel closes the dialog");
    return failures;
}

// A version request still running when its dialog closes: its answer must not show in the
// next Discover dialog, where nothing is selected. Selection, Cancel and the next Discover are
// queued at once, so the next dialog is open before the worker's answer.
int discoverStaleAnswer(const wchar_t* slowUnit) {
    HWND dialog = openDiscoverAndSelect(slowUnit, "the unit with a silent bootloader is listed");
    if (!dialog) return failures;
    command(dialog, IDCANCEL);
    command(mainWindow(), IDC_DISCOVER);
    HWND next = nullptr;
    check(waitFor(
              [&] {
                  next = findDialog(L"Discover");
                  return next && next != dialog;
              },
              30000),
          "the next dialog opens while the request runs");
    if (!next) return failures;
    check(
        !waitFor(
            [&] { return !itemText(next, IDC_BOOTLOADER_VERSION).empty() || !itemText(next, IDC_APP_VERSION).empty(); },
            5000),
        "the next dialog shows no answer meant for the closed one");
    closeWith(next, IDCANCEL, 30000, "Cancel closes the next dialog");
    return failures;
}

int threadsOfProgram() {
    DWORD program = 0;
    GetWindowThreadProcessId(mainWindow(), &program);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == program;
    }
    CloseHandle(snapshot);
    return count;
}

// The serial scan restarts when a version query ends; two such ends in a row must still leave
// one scan running, the one before joined.
int discoverOneThread(const wchar_t* port) {
    HWND dialog = openDiscover(false);
    if (!dialog) return failures;
    waitListed(dialog, port, 60000, "the serial unit is listed");
    int before = threadsOfProgram();
    for (int k = 0; k < 2; ++k) PostMessageW(dialog, WMU_QUERY_DONE, 0, 0);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
    std::printf("     threads: %d before the restarts\n", before);
    check(before > 0 && !waitFor([&] { return threadsOfProgram() > before; }, 2000),
          "two restarts in a row leave one discovery thread");
    closeWith(dialog, IDCANCEL, 30000, "Cancel closes the dialog");
    // The close joins the scan, which ends after the port it is probing.
    check(SendMessageTimeoutW(mainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored) != 0,
          "the main window answers again once the scan has ended");
    return failures;
}

int discoverCancel() {
    HWND dialog = openDiscover(true);
    if (!dialog) return failures;
    closeWith(dialog, IDCANCEL, 30000, "Cancel closes the dialog");
    return failures;
}

// --- Enter Bootload --------------------------------------------------------------------------

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

// Leaves the dialog open, so the script can give the unit a fresh count of commands.
int enterBootloadOpen(const wchar_t* address) {
    HWND dialog = openEnterBootload(address);
    if (!dialog) return failures;
    pinChecks(dialog);
    screenshot("enter-bootload");
    return failures;
}

// Leaves the failure box open, so the script can stop the unit before the main window asks it
// again.
int enterBootloadWrongPin() {
    HWND dialog = waitDialog(L"Enter Bootload", 30000);
    if (!dialog) return failures;
    typePin(dialog, L"9999");
    command(dialog, IDOK);
    HWND box = waitDialog(L"Bootload Mode", 30000);
    check(box != nullptr, "a box follows the wrong PIN");
    return failures;
}

int answerFailure() {
    HWND dialog = findDialog(L"Enter Bootload");
    screenshot("enter-bootload-failed");
    answerBox(L"Bootload Mode", L"Unable to enter Bootload Mode.", IDOK, 30000);
    check(!dialog || gone(dialog, 30000), "the dialog ends after the failure");
    return failures;
}

void pressEnter() { sendInputs({key(VK_RETURN, true), key(VK_RETURN, false)}); }

// Typed on the keyboard: Enter after three digits starts nothing, after the fourth it is OK.
int enterBootloadRightPin(const wchar_t* address, const wchar_t* pin) {
    HWND dialog = openEnterBootload(address);
    if (!dialog) return failures;
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
    return failures;
}

// --- auxiliary dialogs -----------------------------------------------------------------------

int helpPages(int menuId, const wchar_t* title, int pages, const char* shotName) {
    PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(menuId, 0), 0);
    std::wstring first = std::wstring(title) + L": Step 1";
    HWND dialog = waitDialog(first.c_str(), 30000);
    if (!dialog) return failures;
    screenshot(shotName);
    for (int page = 1; page <= pages; ++page) {
        std::wstring expected = std::wstring(title) + L": Step " + std::to_wstring(page);
        check(waitFor([&] { return textOf(dialog) == expected; }, 30000), expected);
        check(!itemText(dialog, IDC_HELP_TEXT).empty(), "page text shown");
        check(visible(dialog, IDC_HELP_PREVIOUS) == (page > 1), "\"<< Previous\" only after the first page");
        const wchar_t* button = page == pages ? L"Finish" : L"Next >>";
        check(itemText(dialog, IDC_HELP_NEXT) == button, std::wstring(L"button reads ") + button);
        if (page == 2) {
            command(dialog, IDC_HELP_PREVIOUS);
            std::wstring back = std::wstring(title) + L": Step 1";
            check(waitFor([&] { return textOf(dialog) == back; }, 30000), "\"<< Previous\" goes back");
            command(dialog, IDC_HELP_NEXT);
            waitFor([&] { return textOf(dialog) == expected; }, 30000);
        }
        command(dialog, IDC_HELP_NEXT);
    }
    check(gone(dialog, 30000), "Finish closes the pages");
    return failures;
}

int versionInformation() {
    HWND window = mainWindow();
    command(window, IDC_MORE);
    HWND dialog = waitDialog(L"Version Information", 30000);
    if (!dialog) return failures;
    const int labels[] = {IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW3_LABEL,
                          IDC_ROW4_LABEL, IDC_ROW5_LABEL, IDC_ROW6_LABEL};
    const int values[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE,
                          IDC_ROW4_VALUE, IDC_ROW5_VALUE, IDC_ROW6_VALUE};
    const wchar_t* expectedLabels[] = {L"Build Version:", L"Server Firmware Version:", L"Server Hardware Version:",
                                       L"Server UI Version:"};
    const wchar_t* expectedValues[] = {L"V1.12", L"V1.12", L"V1.5", L"V1.12"};
    for (int row = 0; row < 4; ++row) {
        bool shown = visible(dialog, labels[row]) && visible(dialog, values[row]);
        check(shown && itemText(dialog, labels[row]) == expectedLabels[row] &&
                  itemText(dialog, values[row]) == expectedValues[row],
              std::wstring(L"row ") + std::to_wstring(row + 1) + L": " + expectedLabels[row] + L" " +
                  expectedValues[row]);
        bool link = GetWindowLongPtrW(GetDlgItem(dialog, labels[row]), GWLP_USERDATA) != 0;
        check(link == (row == 0),
              std::wstring(L"row ") + std::to_wstring(row + 1) + (row == 0 ? L" is a link" : L" is no link"));
    }
    check(!visible(dialog, labels[4]) && !visible(dialog, values[4]) && !visible(dialog, labels[5]) &&
              !visible(dialog, values[5]),
          "the last two rows stay hidden");
    RECT box{};
    GetWindowRect(GetDlgItem(dialog, labels[0]), &box);
    uint32_t hot = rgbOf(GetSysColor(COLOR_HOTLIGHT));
    check(waitFor([&] { return countColour(grab(box), hot) > 10; }, 30000),
          "the link is drawn in the hot-track colour");
    GetWindowRect(GetDlgItem(dialog, labels[1]), &box);
    check(countColour(grab(box), hot) == 0, "a row without notes is not");
    COLORREF link = GetSysColor(COLOR_HOTLIGHT), face = GetSysColor(COLOR_BTNFACE);
    int contrast = std::abs(GetRValue(link) - GetRValue(face)) + std::abs(GetGValue(link) - GetGValue(face)) +
                   std::abs(GetBValue(link) - GetBValue(face));
    std::printf("     link colour %06x on %06x\n", rgbOf(link), rgbOf(face));
    check(contrast > 200, "the link colour stands out from the button face");
    screenshot("version-information");
    command(dialog, values[0], STN_CLICKED);
    check(!waitFor([] { return findDialog(L"Notes") != nullptr; }, 1500), "clicking a value opens nothing");
    command(dialog, labels[1], STN_CLICKED);
    check(!waitFor([] { return findDialog(L"Notes") != nullptr; }, 1500),
          "clicking a label without notes opens nothing");
    command(dialog, labels[0], STN_CLICKED);
    HWND notes = waitDialog(L"Notes", 30000);
    if (notes) {
        std::wstring text = itemText(notes, IDC_NOTES_TEXT);
        check(visible(notes, IDC_NOTES_TEXT) && text.find(L"V1.12") != std::wstring::npos,
              "the release notes are shown");
        check(text.find(L"\r\n") != std::wstring::npos, "with their line ends");
        DWORD selection = static_cast<DWORD>(SendDlgItemMessageW(notes, IDC_NOTES_TEXT, EM_GETSEL, 0, 0));
        check(LOWORD(selection) == HIWORD(selection), "the notes open with nothing selected");
        screenshot("notes");
        closeWith(notes, IDOK, 30000, "OK closes the notes");
    }
    closeWith(dialog, IDOK, 30000, "OK closes Version Information");
    return failures;
}

int about() {
    PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    HWND dialog = waitDialog(L"About", 30000);
    if (!dialog) return failures;
    HWND title = GetDlgItem(dialog, IDC_ABOUT_TITLE);
    check(textOf(title) == L"Tavin Firmware Updater", "the title text");
    RECT dialogBox{}, titleBox{};
    GetWindowRect(dialog, &dialogBox);
    GetWindowRect(title, &titleBox);
    int width = titleBox.right - titleBox.left;
    int expectedLeft = (dialogBox.right - dialogBox.left + 1 - width) / 2;
    POINT client{titleBox.left, titleBox.top};
    ScreenToClient(dialog, &client);
    std::printf("     title %ldx%ld at %ld (centred would be %d)\n", titleBox.right - titleBox.left,
                titleBox.bottom - titleBox.top, client.x, expectedLeft);
    check(client.x == expectedLeft, "the title is centred on the dialog's width");
    check(titleBox.bottom - titleBox.top >= 18, "the title is sized to a 14 pt font");
    screenshot("about");
    closeWith(dialog, IDOK, 30000, "OK closes About");
    return failures;
}

}  // namespace

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
