// Drives the running ztupdater.exe from outside, as a user would, through window messages:
// finds the main window, clicks, types, answers message boxes and checks what the controls show.
// One scenario per run; exit code 0 when every check of it held.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/gui/driver_support.h"
#include "ui/worker_messages.h"

namespace {

HWND item(int id) { return GetDlgItem(mainWindow(), id); }
bool enabled(int id) { return IsWindowEnabled(item(id)) != FALSE; }
bool checked(int id) { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

std::wstring itemText(int id) { return textOf(item(id)); }

void checkMenu(UINT id, bool expectEnabled, const char* what) {
    UINT state = menuItemState(id);
    check(state != static_cast<UINT>(-1) && !(state & (MF_DISABLED | MF_GRAYED)) == expectEnabled, what);
}

void click(int id) { PostMessageW(item(id), BM_CLICK, 0, 0); }

void notify(int id, WORD code) {
    PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(item(id)));
}

bool noBoxFor(const wchar_t* title, DWORD ms) {
    return !waitFor([&] { return findDialog(title) != nullptr; }, ms);
}

// The four edit fields of the IP address control, left to right.
std::vector<HWND> ipFields() {
    std::vector<HWND> fields;
    for (HWND child = GetWindow(item(IDC_IP_ADDRESS), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        fields.push_back(child);
    }
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return fields;
}

DWORD parseAddress(const wchar_t* text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    swscanf(text, L"%u.%u.%u.%u", &a, &b, &c, &d);
    return MAKEIPADDRESS(a, b, c, d);
}

// A query shows "Searching..." and disables Discover until the worker answers; without one
// the version text stays empty and Discover stays enabled.
bool noQueryWithin(DWORD ms) {
    return !waitFor([] { return !itemText(IDC_APP_VERSION).empty() || !enabled(IDC_DISCOVER); }, ms);
}

void setAddress(const wchar_t* text) {
    SendMessageW(item(IDC_IP_ADDRESS), IPM_CLEARADDRESS, 0, 0);
    SendMessageW(item(IDC_IP_ADDRESS), IPM_SETADDRESS, 0, parseAddress(text));
}

void moveMouseOnto(HWND control) { sendInputs({mouseOver(control, MOUSEEVENTF_MOVE)}); }

bool focusIn(HWND control) { return ::focusIn(mainWindow(), control); }

// Alt+? (Alt, Shift and the "/" key) or Alt+/ typed on the keyboard.
void typeAboutAccelerator(bool question) {
    std::vector<INPUT> keys{key(VK_MENU, true)};
    if (question) keys.push_back(key(VK_SHIFT, true));
    keys.push_back(key(VK_OEM_2, true));
    keys.push_back(key(VK_OEM_2, false));
    if (question) keys.push_back(key(VK_SHIFT, false));
    keys.push_back(key(VK_MENU, false));
    sendInputs(keys);
}

// With the focus in a control of the main window, both accelerators open About.
int accelerators() {
    SetForegroundWindow(mainWindow());
    struct Place {
        HWND control;
        HWND focusTarget;
        const char* name;
    };
    std::vector<HWND> fields = ipFields();
    Place places[] = {
        {fields.empty() ? item(IDC_IP_ADDRESS) : fields[0], item(IDC_IP_ADDRESS), "the IP address control"},
        {item(IDC_PARSER_PORT), item(IDC_PARSER_PORT), "the Parser Port edit"}};
    for (const Place& place : places) {
        // The closing About box hands the focus back to where it was; a click that came first
        // loses it again, so it is repeated as a user would.
        bool focused = false;
        for (int attempt = 0; attempt < 3 && !focused; ++attempt) {
            clickInto(place.control);
            focused = waitFor([&] { return focusIn(place.focusTarget); }, 1000);
        }
        check(focused, (std::string("focus in ") + place.name).c_str());
        for (bool question : {true, false}) {
            typeAboutAccelerator(question);
            std::string what = std::string(question ? "Alt+?" : "Alt+/") + " in " + place.name + " opens About";
            check(answerBox(L"About", nullptr, IDOK, 30000), what.c_str());
        }
    }
    return failures;
}

void pressTab(bool backwards) {
    std::vector<INPUT> keys;
    if (backwards) keys.push_back(key(VK_SHIFT, true));
    keys.push_back(key(VK_TAB, true));
    keys.push_back(key(VK_TAB, false));
    if (backwards) keys.push_back(key(VK_SHIFT, false));
    sendInputs(keys);
}

struct Stop {
    int id;
    const char* name;
};

// Tab from `stops[0]` visits the others in turn, Shift+Tab goes back the same way.
void checkTabWalk(const std::vector<Stop>& stops) {
    for (size_t k = 1; k < stops.size(); ++k) {
        pressTab(false);
        check(waitFor([&] { return focusIn(item(stops[k].id)); }, 30000),
              (std::string("Tab: ") + stops[k].name).c_str());
    }
    for (size_t k = stops.size() - 1; k-- > 0;) {
        pressTab(true);
        check(waitFor([&] { return focusIn(item(stops[k].id)); }, 30000),
              (std::string("Shift+Tab: ") + stops[k].name).c_str());
    }
}

// With a bootload-mode unit queried, Tab goes round the enabled tab stops in template order and
// passes over the disabled Enter Bootload and COM list.
int tabOrder() {
    SetForegroundWindow(mainWindow());
    std::vector<HWND> fields = ipFields();
    clickInto(fields.empty() ? item(IDC_IP_ADDRESS) : fields[0]);
    check(waitFor([] { return focusIn(item(IDC_IP_ADDRESS)); }, 30000), "focus in the IP address control");
    checkTabWalk({{IDC_IP_ADDRESS, "the IP address control"},
                  {IDC_PARSER_PORT, "Parser Port"},
                  {IDC_DISCOVER, "Discover"},
                  {IDC_EXIT_BOOTLOAD, "Exit Bootload"},
                  {IDC_UPDATE, "Update"},
                  {IDC_MORE, "More..."},
                  {IDC_FACTORY_DEFAULTS, "Factory Defaults"},
                  {IDC_SERVER_FIRMWARE, "Server Firmware"},
                  {IDC_SERVER_UI, "Server UI"},
                  {IDC_IP_RADIO, "the IP Address radio"},
                  {IDC_IP_ADDRESS, "the IP address control again"}});
    check(checked(IDC_IP_RADIO) && enabled(IDC_UPDATE), "the walk changed neither the mode nor the buttons");
    // Update is the default button, but Enter in the address is no way to erase a unit.
    sendInputs({key(VK_RETURN, true), key(VK_RETURN, false)});
    check(noBoxFor(L"Warning", 1000), "Enter in the IP address control starts no update");
    // A message box hands the focus back to the control that had it. A click may come before
    // the window has settled and lose the focus again, so it is repeated as a user would.
    bool focused = false;
    for (int attempt = 0; attempt < 3 && !focused; ++attempt) {
        clickInto(item(IDC_PARSER_PORT));
        focused = waitFor([] { return focusIn(item(IDC_PARSER_PORT)); }, 1000);
    }
    check(focused, "focus in Parser Port");
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    answerBox(L"Close", nullptr, IDNO, 30000);
    check(waitFor([] { return focusIn(item(IDC_PARSER_PORT)); }, 30000), "focus back in Parser Port after the box");
    return failures;
}

// Answers held back during a run and a device change while it goes on: neither may change
// what the run disabled, nor what its end enables.
int duringRun() {
    PostMessageW(mainWindow(), WMU_NO_BOOTLOADER, 0, 0);
    PostMessageW(mainWindow(), WMU_EXIT_BOOTLOAD_ALLOWED, 0, 0);
    DWORD_PTR answer = 0;
    LRESULT handled = SendMessageTimeoutW(mainWindow(), WM_DEVICECHANGE, 0x8000 /* DBT_DEVICEARRIVAL */, 0, SMTO_NORMAL,
                                          30000, &answer);
    check(handled != 0 && answer == TRUE, "the device change is answered");
    check(!enabled(IDC_COM_RADIO) && !enabled(IDC_IP_ADDRESS) && !enabled(IDC_IP_RADIO),
          "a device change during the run leaves the connection controls disabled");
    checkMenu(IDM_UNIT_PREPARATIONS, false, "Help > Unit Preparations disabled during the run");
    checkMenu(IDM_UPDATE_INSTRUCTIONS, false, "Help > Update Instructions disabled during the run");
    checkMenu(IDM_EXIT, true, "File > Exit stays enabled during the run");
    SetForegroundWindow(mainWindow());
    typeAboutAccelerator(true);
    HWND about = nullptr;
    bool opened = waitFor([&] { return (about = findDialog(L"About")) != nullptr; }, 1500);
    check(!opened, "Alt+? opens no About while its menu item is disabled");
    if (opened) PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return failures;
}

// File > Update and Exit Bootload offer nothing on an address that was not asked.
void checkNoRunOffered(const char* what) {
    check(!enabled(IDC_UPDATE) && !enabled(IDC_EXIT_BOOTLOAD),
          (std::string(what) + ": Update and Exit Bootload disabled").c_str());
    PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(IDM_UPDATE, 0), 0);
    check(noBoxFor(L"Warning", 1500), (std::string(what) + ": File > Update starts nothing").c_str());
}

int invalidEdit() {
    check(waitFor([] { return enabled(IDC_UPDATE); }, 30000), "Update enabled for the unit asked");
    setAddress(L"127.0.0.1");
    checkNoRunOffered("after an edit to an unusable address");
    return failures;
}

// A query typed in the first moments after the window shows is answered.
int earlyQuery(const wchar_t* address) {
    setAddress(address);
    check(waitFor(
              [] {
                  std::wstring text = itemText(IDC_APP_VERSION);
                  return !text.empty() && text != L"Searching...";
              },
              30000),
          "a query typed at once is answered");
    return failures;
}

// Right as the window shows: a query typed at once, then the Overwrite boxes of a build whose
// application image has no data record.
int startupWithoutRecords(const wchar_t* address) {
    earlyQuery(address);
    check(!enabled(IDC_SERVER_FIRMWARE) && !checked(IDC_SERVER_FIRMWARE),
          "Server Firmware disabled, unchecked (an application image without data records)");
    check(enabled(IDC_SERVER_UI) && checked(IDC_SERVER_UI), "Server UI enabled, checked");
    return failures;
}

int startup(bool flashPresent) {
    check(waitMainWindow(), "main window shown");
    check(textOf(mainWindow()) == L"ZT Series Firmware Updater", "title filled with the model");
    check(itemText(IDC_PRODUCT_NAME) == L"Product Name:\t\tZT Series", "product name filled");
    check(itemText(IDC_BUILD_VERSION).rfind(L"Build Version:\t\tV", 0) == 0, "build version filled");
    check(itemText(IDC_STATUS) == L"Progress: Idle", "status line reads Progress: Idle");
    check(itemText(IDC_PARSER_PORT) == L"4999", "Parser Port shows 4999");
    check(checked(IDC_IP_RADIO) && !checked(IDC_COM_RADIO), "IP mode selected");
    check(!enabled(IDC_UPDATE), "Update button disabled");
    checkMenu(IDM_UPDATE, false, "File > Update disabled");
    check(!enabled(IDC_ENTER_BOOTLOAD) && !enabled(IDC_EXIT_BOOTLOAD), "Enter and Exit Bootload disabled");
    check(enabled(IDC_DISCOVER) && enabled(IDC_MORE), "Discover and More... enabled");
    check(enabled(IDC_FACTORY_DEFAULTS) && !checked(IDC_FACTORY_DEFAULTS), "Factory Defaults enabled, unchecked");
    check(enabled(IDC_SERVER_FIRMWARE) && checked(IDC_SERVER_FIRMWARE), "Server Firmware enabled, checked");
    if (flashPresent) {
        check(enabled(IDC_SERVER_UI) && checked(IDC_SERVER_UI), "Server UI enabled, checked");
    } else {
        check(!enabled(IDC_SERVER_UI) && !checked(IDC_SERVER_UI), "Server UI disabled, unchecked (no flash image)");
    }
    checkMenu(IDM_UNIT_PREPARATIONS, true, "Help > Unit Preparations enabled");
    checkMenu(IDM_UPDATE_INSTRUCTIONS, true, "Help > Update Instructions enabled");
    checkMenu(IDM_ABOUT, true, "Help > About enabled");
    checkMenu(IDM_EXIT, true, "File > Exit enabled");
    bool ports = SendMessageW(item(IDC_COM_LIST), CB_GETCOUNT, 0, 0) > 0;
    check(enabled(IDC_COM_RADIO) == ports, "COM Port radio enabled exactly when ports exist");
    check(!enabled(IDC_COM_LIST), "COM list disabled");
    check(enabled(IDC_IP_ADDRESS) && enabled(IDC_PARSER_PORT) && enabled(IDC_PARSER_PORT_LABEL),
          "IP address, Parser Port and its label enabled");
    checkTextsFit(mainWindow(), L"Microsoft Sans Serif");
    return failures;
}

// Field by field: no query before the fourth; the fourth starts one that finds a bootloader.
int ipFields(const wchar_t* address) {
    std::vector<HWND> fields = ipFields();
    check(fields.size() == 4, "the IP address control has four fields");
    if (fields.size() != 4) return failures;
    unsigned parts[4] = {};
    swscanf(address, L"%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    SendMessageW(item(IDC_IP_ADDRESS), IPM_CLEARADDRESS, 0, 0);
    for (int k = 0; k < 3; ++k) {
        SendMessageW(fields[k], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::to_wstring(parts[k]).c_str()));
        check(noQueryWithin(700), "no query while fewer than four fields are filled");
        check(!enabled(IDC_UPDATE), "Update stays disabled");
    }
    SendMessageW(fields[3], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::to_wstring(parts[3]).c_str()));
    check(waitFor([] { return enabled(IDC_UPDATE) && enabled(IDC_EXIT_BOOTLOAD); }, 30000),
          "the fourth field starts a query: the bootloader's answer enables Update and Exit Bootload");
    return failures;
}

int noQuery(const wchar_t* address) {
    setAddress(L"0.0.0.0");
    SendMessageW(item(IDC_IP_ADDRESS), IPM_CLEARADDRESS, 0, 0);
    SetWindowTextW(item(IDC_APP_VERSION), L"");
    setAddress(address);
    std::string what = "no query for " + std::string(address, address + std::wcslen(address));
    check(noQueryWithin(1500), what.c_str());
    check(!enabled(IDC_UPDATE), "Update disabled for an unusable address");
    return failures;
}

int parserPort(const wchar_t* value, bool accept) {
    std::wstring before = itemText(IDC_PARSER_PORT);
    SetWindowTextW(item(IDC_PARSER_PORT), value);
    notify(IDC_PARSER_PORT, EN_KILLFOCUS);
    if (accept) {
        check(noBoxFor(L"Out of range", 1500), "no out-of-range box");
        std::wstring now = itemText(IDC_PARSER_PORT);
        if (now != value) std::printf("     Parser Port shows \"%ls\"\n", now.c_str());
        check(now == value, "value kept");
    } else {
        answerBox(L"Out of range", L"Parser Port must be between 1024 and 65535.", IDOK, 30000);
        check(waitFor([&] { return itemText(IDC_PARSER_PORT) == before; }, 30000), "previous value restored");
    }
    return failures;
}

int queryBootload(const wchar_t* address) {
    SendMessageW(item(IDC_IP_ADDRESS), IPM_CLEARADDRESS, 0, 0);
    setAddress(address);
    check(waitFor([] { return enabled(IDC_UPDATE) && enabled(IDC_EXIT_BOOTLOAD) && enabled(IDC_DISCOVER); }, 30000),
          "bootload-mode unit: Update, Exit Bootload and Discover enabled");
    checkMenu(IDM_UPDATE, true, "File > Update enabled");
    check(!enabled(IDC_ENTER_BOOTLOAD), "Enter Bootload disabled");
    check(itemText(IDC_APP_VERSION) != L"Searching...", "version text answered");
    return failures;
}

// Through the Update button, or with `fromMenu` the File > Update command.
int updateStart(bool fromMenu) {
    if (fromMenu) {
        checkMenu(IDM_UPDATE, true, "File > Update enabled");
        PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(IDM_UPDATE, 0), 0);
    } else {
        click(IDC_UPDATE);
    }
    answerBox(L"Warning", nullptr, IDOK, 30000);
    check(waitFor([] { return itemText(IDC_STATUS) != L"Progress: Idle"; }, 30000), "status line moves off Idle");
    check(waitFor([] { return SendMessageW(item(IDC_PROGRESS), PBM_GETPOS, 0, 0) > 0; }, 30000), "progress moves");
    check(!enabled(IDC_UPDATE) && !enabled(IDC_DISCOVER) && !enabled(IDC_EXIT_BOOTLOAD), "action buttons disabled");
    check(!enabled(IDC_IP_ADDRESS) && !enabled(IDC_SERVER_FIRMWARE) && !enabled(IDC_MORE), "settings disabled");
    checkMenu(IDM_UPDATE, false, "File > Update disabled");
    checkMenu(IDM_ABOUT, false, "Help > About disabled");
    return failures;
}

long long barPosition() { return SendMessageW(item(IDC_PROGRESS), PBM_GETPOS, 0, 0); }

// A fifth of the bar: far enough into the run for its screenshot, and for a window that queued a
// message per request to be well behind.
int updateUnderWay() {
    const long long range = SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0);
    check(waitFor([&] { return barPosition() >= range / 5; }, 120000), "the bar shows a fifth of the update");
    return failures;
}

// The cursor the program's thread shows, while one of its windows is in the foreground.
HCURSOR shownCursor() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    return GetCursorInfo(&info) ? info.hCursor : nullptr;
}

// During a run the wait cursor stays over the window's controls too; the close box, which is
// not busy, shows another one.
int closeAnswerNo() {
    SetForegroundWindow(mainWindow());
    // The window may still show the cursor of before the run until the mouse moves over it.
    HCURSOR busy = shownCursor();
    moveMouseOnto(item(IDC_PROGRESS));
    waitFor([&] { return shownCursor() != busy; }, 1500);
    busy = shownCursor();
    check(!waitFor([&] { return shownCursor() != busy; }, 1500), "the wait cursor stays over a control during the run");
    // Some seconds into the run: a window that queued a message per request is far behind.
    const DWORD closedAt = GetTickCount();
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    HWND box = nullptr;
    const bool asked = waitFor([&] { return (box = findDialog(L"Close")) != nullptr; }, 60000);
    const DWORD delay = GetTickCount() - closedAt;
    std::printf("     close question %lu ms after WM_CLOSE\n", static_cast<unsigned long>(delay));
    check(asked && delay < 1000, "the close question comes within 1 s of WM_CLOSE");
    if (asked) {
        // Wine sets the cursor at the next mouse move the box itself receives, which may come
        // before the box is ready: keep moving between its two buttons until it shows.
        int moves = 0;
        check(waitFor(
                  [&] {
                      moveMouseOnto(GetDlgItem(box, ++moves % 2 ? IDNO : IDYES));
                      return shownCursor() != busy;
                  },
                  30000),
              "the close box shows another cursor: the one over the controls was the wait cursor");
        moveMouseOnto(GetDlgItem(box, IDNO));
    }
    const long long range = SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0);
    const long long positionAtNo = barPosition();
    answerBox(L"Close", L"Close the application ?", IDNO, 60000);
    // Yes would stop the run at its next request; after No the bar goes on, or the run ends.
    check(
        waitFor([&] { return barPosition() > positionAtNo + range / 50 || findDialog(L"Success") != nullptr; }, 60000),
        "the update goes on after No");
    check(mainWindow() != nullptr, "still running after No");
    return failures;
}

int updateFinish(const wchar_t* title, const wchar_t* text) {
    answerBox(title, text, IDOK, 180000);
    check(waitFor([] { return itemText(IDC_STATUS) == L"Progress: Idle"; }, 30000), "status back to Idle");
    check(SendMessageW(item(IDC_PROGRESS), PBM_GETPOS, 0, 0) == 0, "progress back to 0");
    check(enabled(IDC_UPDATE) && enabled(IDC_DISCOVER) && enabled(IDC_EXIT_BOOTLOAD),
          "Update, Discover and Exit Bootload enabled again");
    check(enabled(IDC_IP_ADDRESS) && enabled(IDC_MORE) && enabled(IDC_SERVER_FIRMWARE), "settings enabled again");
    checkMenu(IDM_UPDATE, true, "File > Update enabled again");
    checkMenu(IDM_UNIT_PREPARATIONS, true, "Help > Unit Preparations enabled again");
    checkMenu(IDM_UPDATE_INSTRUCTIONS, true, "Help > Update Instructions enabled again");
    checkMenu(IDM_ABOUT, true, "Help > About enabled again");
    return failures;
}

// Update on a unit that answered the query but fails the update's own identification: the
// box's first line names the reason, and the run ends as every run does.
int updateResult(const wchar_t* firstLine) {
    click(IDC_UPDATE);
    answerBox(L"Warning", nullptr, IDOK, 30000);
    HWND box = nullptr;
    check(waitFor([&] { return (box = findDialog(L"Error")) != nullptr; }, 60000), "box \"Error\" appears");
    if (!box) return failures;
    std::wstring text = boxText(box);
    if (text.rfind(firstLine, 0) != 0) std::printf("     box text: %ls\n", text.c_str());
    check(text.rfind(firstLine, 0) == 0, std::wstring(L"box begins \"") + firstLine + L"\"");
    return updateFinish(L"Error", nullptr);
}

// The query's end state for a unit whose bootloader does not answer: with `exitAllowed` an
// application whose command port reports bootload enabled ("e"), without it nothing at all.
int querySilent(const wchar_t* address, bool exitAllowed) {
    SendMessageW(item(IDC_IP_ADDRESS), IPM_CLEARADDRESS, 0, 0);
    SetWindowTextW(item(IDC_APP_VERSION), L"");
    setAddress(address);
    check(waitFor([] { return itemText(IDC_APP_VERSION) == L"Not found"; }, 30000), "version text Not found");
    auto settled = [&] {
        return enabled(IDC_DISCOVER) && enabled(IDC_EXIT_BOOTLOAD) == exitAllowed && !enabled(IDC_UPDATE) &&
               !enabled(IDC_ENTER_BOOTLOAD);
    };
    const char* what = exitAllowed
                           ? "command port reports \"e\": Discover and Exit Bootload enabled, Update and Enter disabled"
                           : "nothing answers: of the action buttons only Discover enabled";
    check(waitFor(settled, 30000), what);
    // The command-port probe may still be running; its end must leave the same state.
    check(waitFor(lastQueryAnswered, 30000), "the query ends");
    check(settled(), "the state holds once the probes have ended");
    checkMenu(IDM_UPDATE, false, "File > Update disabled");
    return failures;
}

bool portListed(const wchar_t* port) {
    return SendMessageW(item(IDC_COM_LIST), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(port)) >= 0;
}

// A serial adapter plugged in or removed: the script has made or removed the port's link first.
int deviceChange(bool arrival, const wchar_t* port, const wchar_t* stillListed) {
    DWORD_PTR answer = 0;
    WPARAM event = arrival ? 0x8000 /* DBT_DEVICEARRIVAL */ : 0x8004 /* DBT_DEVICEREMOVECOMPLETE */;
    SendMessageTimeoutW(mainWindow(), WM_DEVICECHANGE, event, 0, SMTO_NORMAL, 30000, &answer);
    std::wstring name(port);
    check(waitFor([&] { return portListed(port) == arrival; }, 30000),
          name + (arrival ? L" listed after its arrival" : L" gone after its removal"));
    if (stillListed && *stillListed) check(portListed(stillListed), std::wstring(stillListed) + L" still listed");
    check(enabled(IDC_COM_RADIO), "COM Port radio enabled while a port exists");
    return failures;
}

// The last port removed while COM mode is chosen: nothing to list, so the window goes back to
// IP mode and COM mode cannot be chosen.
int lastPortRemoved() {
    click(IDC_COM_RADIO);
    check(waitFor([] { return enabled(IDC_COM_LIST) && !enabled(IDC_IP_ADDRESS); }, 30000), "COM mode chosen");
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(mainWindow(), WM_DEVICECHANGE, 0x8004, 0, SMTO_NORMAL, 30000, &answer);
    check(waitFor([] { return SendMessageW(item(IDC_COM_LIST), CB_GETCOUNT, 0, 0) == 0; }, 30000),
          "the COM list is empty");
    check(waitFor([] { return !enabled(IDC_COM_RADIO); }, 30000), "COM Port radio disabled");
    check(checked(IDC_IP_RADIO) && enabled(IDC_IP_ADDRESS), "IP mode stays selected and usable");
    return failures;
}

struct UnitProgress {
    bool read = false;
    long long count = 0;  // records and flash bytes the unit has programmed
    bool closeReceived = false;
};

// The simulator's --progress-file: "unit 0 progress COUNT close_received 0|1".
UnitProgress unitProgress(const wchar_t* path) {
    UnitProgress progress;
    FILE* file = _wfopen(path, L"r");
    if (!file) return progress;
    int close = 0;
    progress.read = std::fscanf(file, "unit 0 progress %lld close_received %d", &progress.count, &close) == 2;
    progress.closeReceived = close != 0;
    std::fclose(file);
    return progress;
}

// The bar against the unit's own count, sampled over a tenth of a second: how far the window
// is behind what its worker has already done. The file may be a moment old, which only
// flatters the window.
void checkBarKeepsUp(const wchar_t* progressPath, long long range) {
    long long worst = 0;
    for (int sample = 0; sample < 5; ++sample) {
        const UnitProgress unit = unitProgress(progressPath);
        if (unit.read) worst = std::max(worst, unit.count - barPosition());
        Sleep(20);
    }
    std::printf("     bar lag: at most %lld of %lld (%.1f %%) behind the unit\n", worst, range,
                100.0 * static_cast<double>(worst) / static_cast<double>(range));
    check(worst < range / 20, "the bar is less than 5 % behind the unit");
}

// During a run: the bar keeps up, the close question comes at once, and Yes stops the run at
// its next request, before the closing command; the window goes once the run has ended.
int closeAnswerYes(const wchar_t* progressPath) {
    const long long range = SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0);
    // Far enough for a window that draws every position to be seconds behind, with time left
    // for Yes to stop the run.
    check(waitFor([&] { return unitProgress(progressPath).count >= range * 3 / 10; }, 60000),
          "the unit reports 30 % of the update programmed");
    checkBarKeepsUp(progressPath, range);
    const DWORD closedAt = GetTickCount();
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    const bool asked = waitFor([] { return findDialog(L"Close") != nullptr; }, 60000);
    const DWORD delay = GetTickCount() - closedAt;
    std::printf("     close question %lu ms after WM_CLOSE\n", static_cast<unsigned long>(delay));
    check(asked && delay < 1000, "the close question comes within 1 s of WM_CLOSE");
    answerBox(L"Close", L"Close the application ?", IDYES, 60000);
    check(waitFor([] { return mainWindow() == nullptr; }, 30000), "main window gone after Yes during the run");
    const UnitProgress unit = unitProgress(progressPath);
    std::printf("     the unit stopped at %lld of %lld\n", unit.count, range);
    check(unit.read && !unit.closeReceived && unit.count < range, "Yes stopped the update before its closing command");
    return failures;
}

int exitBootload() {
    click(IDC_EXIT_BOOTLOAD);
    answerBox(L"Success", L"Bootload mode exited.", IDOK, 30000);
    check(waitFor(
              [] {
                  return enabled(IDC_ENTER_BOOTLOAD) && !enabled(IDC_UPDATE) && !enabled(IDC_EXIT_BOOTLOAD) &&
                         enabled(IDC_DISCOVER);
              },
              30000),
          "new query: the unit runs its application, Enter Bootload enabled, Update and Exit disabled");
    check(itemText(IDC_APP_VERSION) == L"Not found", "version text Not found");
    return failures;
}

int comQuery(const wchar_t* port) {
    click(IDC_COM_RADIO);
    check(waitFor([] { return enabled(IDC_COM_LIST) && !enabled(IDC_IP_ADDRESS); }, 30000), "COM mode: list enabled");
    check(!enabled(IDC_UPDATE) && !enabled(IDC_EXIT_BOOTLOAD) && !enabled(IDC_ENTER_BOOTLOAD),
          "no port selected: Update, Exit and Enter Bootload disabled");
    LRESULT index =
        SendMessageW(item(IDC_COM_LIST), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port));
    check(index >= 0, "the port is listed");
    if (index < 0) return failures;
    SendMessageW(item(IDC_COM_LIST), CB_SETCURSEL, index, 0);
    notify(IDC_COM_LIST, CBN_SELCHANGE);
    check(waitFor([] { return enabled(IDC_UPDATE) && enabled(IDC_EXIT_BOOTLOAD); }, 30000),
          "bootloader on the serial port: Update and Exit Bootload enabled");
    // Back from the COM list, Shift+Tab lands on the checked COM Port radio, not on IP Address.
    SetForegroundWindow(mainWindow());
    clickInto(item(IDC_COM_RADIO));
    check(waitFor([] { return focusIn(item(IDC_COM_RADIO)); }, 30000), "focus on the COM Port radio");
    checkTabWalk({{IDC_COM_RADIO, "the COM Port radio"}, {IDC_COM_LIST, "the COM list"}});
    check(checked(IDC_COM_RADIO) && enabled(IDC_COM_LIST) && enabled(IDC_UPDATE), "COM mode kept");
    click(IDC_IP_RADIO);
    check(waitFor([] { return enabled(IDC_IP_ADDRESS) && !enabled(IDC_COM_LIST); }, 30000), "back in IP mode");
    checkNoRunOffered("after the switch to an address nobody asked");
    return failures;
}

int quit() {
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    answerBox(L"Close", nullptr, IDYES, 30000);
    check(waitFor([] { return mainWindow() == nullptr; }, 30000), "main window gone after Yes");
    return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Scenario line;
    if (!readScenario(argc, argv, "gui_driver", line)) return 2;
    const std::wstring& scenario = line.name;
    const wchar_t* arg = line.arg(0);
    const wchar_t* arg2 = line.arg(1, nullptr);
    if (scenario != L"expect-box") check(waitMainWindow(), "main window found");
    if (scenario == L"startup") return startup(true);
    if (scenario == L"startup-noflash") return startup(false);
    if (scenario == L"startup-norecords") return startupWithoutRecords(arg);
    if (scenario == L"accelerators") return accelerators();
    if (scenario == L"during-run") return duringRun();
    if (scenario == L"invalid-edit") return invalidEdit();
    if (scenario == L"ip-fields") return ipFields(arg);
    if (scenario == L"no-query") return noQuery(arg);
    if (scenario == L"port-accept") return parserPort(arg, true);
    if (scenario == L"port-refuse") return parserPort(arg, false);
    if (scenario == L"query-bootload") return queryBootload(arg);
    if (scenario == L"update-start") return updateStart(false);
    if (scenario == L"update-start-menu") return updateStart(true);
    if (scenario == L"tab-order") return tabOrder();
    if (scenario == L"screenshot") {
        screenshot(std::string(arg, arg + std::wcslen(arg)).c_str());
        return failures;
    }
    if (scenario == L"update-under-way") return updateUnderWay();
    if (scenario == L"close-no") return closeAnswerNo();
    if (scenario == L"update-finish") return updateFinish(arg, arg2);
    if (scenario == L"exit-bootload") return exitBootload();
    if (scenario == L"com-query") return comQuery(arg);
    if (scenario == L"quit") return quit();
    if (scenario == L"update-result") return updateResult(arg);
    if (scenario == L"query-e") return querySilent(arg, true);
    if (scenario == L"query-nothing") return querySilent(arg, false);
    if (scenario == L"port-arrival") return deviceChange(true, arg, arg2);
    if (scenario == L"port-removal") return deviceChange(false, arg, arg2);
    if (scenario == L"last-port-removed") return lastPortRemoved();
    if (scenario == L"close-yes") return closeAnswerYes(arg);
    if (scenario == L"expect-box") {
        answerBox(arg, arg2, IDOK, 60000);
        return failures;
    }
    std::fprintf(stderr, "unknown scenario\n");
    return 2;
}
