// The Discover dialog's scenarios: the listed units (read from the program's memory), their
// order and drawing, the versions of a selected unit and what the main window does with it.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "shell/discover_dialog.h"
#include "tests/gui/dialog_driver.h"
#include "ui/worker_messages.h"

namespace {

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

// Every bootload-mode unit above every application-mode one, whichever answered first.
bool bootloadUnitsFirst(const std::vector<UnitEntry>& units) {
    bool applicationSeen = false;
    for (const UnitEntry& unit : units) {
        if (unit.bootload && applicationSeen) return false;
        applicationSeen = applicationSeen || !unit.bootload;
    }
    return true;
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

}  // namespace

// Opened in network mode: the application-mode units, the one on another subnet and the
// link-local one, each once. The dialog stays open for discover-bootload.
int discoverNetworkFirst(int expected) {
    return withDialog(openDiscover(true), [&](HWND dialog) {
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
    });
}

int discoverNetworkBootload(const wchar_t* bootloadUnit, const wchar_t* grey, const wchar_t* green) {
    return withDialog(waitDialog(L"Discover", 30000), [&](HWND dialog) {
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
        if (greyIndex < 0 || greenIndex < 0 || bootload < 0) return;
        int plain = -1;
        for (size_t k = 0; k < units.size() && plain < 0; ++k) {
            if (!units[k].bootload && !units[k].linkLocal && !units[k].otherSubnet) plain = static_cast<int>(k);
        }
        check(plain >= 0, "a plain application-mode unit is listed");
        if (plain < 0) return;
        const uint32_t kGreen = 0x00C000, kGrey = 0x808080;
        Pixels greyRow = rowPixels(dialog, greyIndex), greenRow = rowPixels(dialog, greenIndex);
        Pixels plainRow = rowPixels(dialog, plain), boldRow = rowPixels(dialog, bootload);
        check(countColour(greyRow, kGrey) > 20 && countColour(greyRow, kGreen) == 0, "other-subnet unit drawn grey");
        check(countColour(greenRow, kGreen) > 20 && countColour(greenRow, kGrey) == 0, "green wins over grey");
        check(countColour(plainRow, kGreen) == 0 && countColour(plainRow, kGrey) == 0 &&
                  countColour(plainRow, rgbOf(GetSysColor(COLOR_WINDOWTEXT))) > 20,
              "a unit on the local subnet drawn in the text colour");
        check(drawnBold(dialog, boldRow, units[bootload].displayText), "the bootload-mode unit drawn bold");
        check(!drawnBold(dialog, plainRow, units[plain].displayText),
              "an application-mode unit drawn in normal weight");
        screenshot("discover-network");

        selectUnit(dialog, greyIndex);
        check(waitFor([&] { return enabled(dialog, IDOK); }, 30000), "a selection enables OK");
        check(!enabled(dialog, IDC_BOOTLOADER_VERSION_LABEL) && itemText(dialog, IDC_BOOTLOADER_VERSION).empty(),
              "an application-mode unit: no versions asked for");
        selectUnit(dialog, bootload);
        check(
            waitFor(
                [&] { return enabled(dialog, IDC_BOOTLOADER_VERSION_LABEL) && enabled(dialog, IDC_APP_VERSION_LABEL); },
                30000),
            "a bootload-mode unit: version labels enabled");
        checkVersionsShown(dialog);
        screenshot("discover-versions");
        closeWith(dialog, IDOK, 30000, "OK closes the dialog");
    });
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
    return withDialog(openDiscoverAndSelect(address, "the unit is listed"), [&](HWND dialog) {
        check(waitFor([&] { return enabled(dialog, IDOK); }, 30000), "the selection enables OK");
        command(dialog, IDOK);
        answerBox(L"Bootload Mode", L"Please remember to place the selected unit into bootload mode.", IDOK, 30000);
        check(gone(dialog, 30000), "the dialog closes after the reminder");
        discoverReturned(address, false);
    });
}

int discoverSerial(const wchar_t* port) {
    return withDialog(openDiscover(false), [&](HWND dialog) {
        std::vector<UnitEntry> units = waitListed(dialog, port, 60000, "the serial unit is listed");
        printUnits(units);
        int index = indexOf(units, port);
        if (index < 0) return;
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
    });
}

// Leaves the dialog open with a bootload-mode unit listed, so the script can start an
// application-mode unit that answers after it.
int discoverOrderOpen(const wchar_t* bootloadUnit) {
    return withDialog(openDiscover(true), [&](HWND dialog) {
        waitListed(dialog, bootloadUnit, 30000, "the bootload-mode unit is listed", inBootloadMode);
    });
}

int discoverOrderCheck(const wchar_t* laterUnit) {
    return withDialog(waitDialog(L"Discover", 30000), [&](HWND dialog) {
        std::vector<UnitEntry> units =
            waitListed(dialog, laterUnit, 30000, "the application-mode unit that answered later is listed");
        printUnits(units);
        check(bootloadUnitsFirst(units),
              "bootload-mode units stay above the application-mode unit that answered later");
        closeWith(dialog, IDCANCEL, 30000, "Cancel closes the dialog");
    });
}

// A version request still running when its dialog closes: its answer must not show in the
// next Discover dialog, where nothing is selected. Selection, Cancel and the next Discover are
// queued at once, so the next dialog is open before the worker's answer.
int discoverStaleAnswer(const wchar_t* slowUnit) {
    return withDialog(openDiscoverAndSelect(slowUnit, "the unit with a silent bootloader is listed"), [&](HWND dialog) {
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
        if (!next) return;
        check(!waitFor(
                  [&] {
                      return !itemText(next, IDC_BOOTLOADER_VERSION).empty() ||
                             !itemText(next, IDC_APP_VERSION).empty();
                  },
                  5000),
              "the next dialog shows no answer meant for the closed one");
        closeWith(next, IDCANCEL, 30000, "Cancel closes the next dialog");
    });
}

// The serial scan restarts when a version query ends; two such ends in a row must still leave
// one scan running, the one before joined.
int discoverOneThread(const wchar_t* port) {
    return withDialog(openDiscover(false), [&](HWND dialog) {
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
    });
}

int discoverCancel() {
    return withDialog(openDiscover(true),
                      [&](HWND dialog) { closeWith(dialog, IDCANCEL, 30000, "Cancel closes the dialog"); });
}
