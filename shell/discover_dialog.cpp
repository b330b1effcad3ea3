// The Discover dialog: lists units as the discovery thread reports them and returns the chosen one.
#include "shell/discover_dialog.h"

#include <winsock2.h>
#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <memory>
#include <mutex>

#include "bootloader/request_worker.h"
#include "discovery/discovery_threads.h"
#include "platform/native_window_sink.h"
#include "resources/resource.h"
#include "shell/dialog_font.h"
#include "shell/dialogs.h"
#include "transport/com_port_table.h"
#include "transport/unit_address.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

HANDLE discoveryThread = nullptr;

namespace {

constexpr uint32_t kSerialResultBase = 0xFFFFFF00u;
constexpr int kFontPoints = 8;
constexpr int kItemPadding = 2;
constexpr COLORREF kLinkLocalColour = RGB(0, 192, 0);
constexpr COLORREF kOtherSubnetColour = RGB(128, 128, 128);

// Where the discovery thread and the worker report to one dialog. The worker may still answer
// a version request after its dialog has gone: the detached sink then drops the answer, and
// it is never freed, so the worker never posts through a freed sink; a later dialog has a
// sink of its own and never sees answers meant for an earlier one.
class DialogSink : public platform::MessageSink {
public:
    explicit DialogSink(HWND window) : window_(window) {}
    void detach() {
        std::lock_guard<std::mutex> lock(mutex_);
        window_ = nullptr;
    }
    bool post(platform::WindowMessage message) override {
        HWND window = current();
        return window && platform::NativeWindowSink(window).post(std::move(message));
    }
    intptr_t send(platform::WindowMessage message) override {
        HWND window = current();
        return window ? platform::NativeWindowSink(window).send(std::move(message)) : 0;
    }

private:
    HWND current() {
        std::lock_guard<std::mutex> lock(mutex_);
        return window_;
    }
    std::mutex mutex_;
    HWND window_ = nullptr;
};

struct DiscoverState {
    bool networkMode = true;
    DialogSink* sink = nullptr;
    HFONT normalFont = nullptr;
    HFONT boldFont = nullptr;
};

DiscoverState state;

unsigned __stdcall networkDiscoveryThreadEntry(void* window) {
    ip_discover_thread(static_cast<platform::WindowHandle>(window));
    return 0;
}

unsigned __stdcall serialDiscoveryThreadEntry(void* window) {
    com_discover_thread(static_cast<platform::WindowHandle>(window));
    return 0;
}

HWND unitList(HWND dialog) { return GetDlgItem(dialog, IDC_UNIT_LIST); }

int entryCount(HWND dialog) { return static_cast<int>(SendMessageW(unitList(dialog), LB_GETCOUNT, 0, 0)); }

UnitEntry* entryAt(HWND dialog, int index) {
    LRESULT data = SendMessageW(unitList(dialog), LB_GETITEMDATA, index, 0);
    return data == LB_ERR ? nullptr : reinterpret_cast<UnitEntry*>(data);
}

UnitEntry* selectedEntry(HWND dialog) {
    int index = static_cast<int>(SendMessageW(unitList(dialog), LB_GETCURSEL, 0, 0));
    return index == LB_ERR ? nullptr : entryAt(dialog, index);
}

// A unit already listed counts the report and is not listed again.
template <typename Match>
bool alreadyListed(HWND dialog, Match matches) {
    for (int index = 0; index < entryCount(dialog); ++index) {
        UnitEntry* entry = entryAt(dialog, index);
        if (entry && matches(*entry)) {
            ++entry->reports;
            return true;
        }
    }
    return false;
}

// Serial units keep the order of their reports; network units are placed by WM_COMPAREITEM.
// LB_INSERTSTRING never sorts, whatever the list's style says.
void addEntry(HWND dialog, std::unique_ptr<UnitEntry> entry) {
    UINT message = state.networkMode ? LB_ADDSTRING : LB_INSERTSTRING;
    WPARAM position = state.networkMode ? 0 : static_cast<WPARAM>(-1);
    LRESULT index = SendMessageW(unitList(dialog), message, position, reinterpret_cast<LPARAM>(entry.get()));
    if (index >= 0) entry.release();
}

int textHeight(HDC context, HFONT font) {
    HGDIOBJ previous = SelectObject(context, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    SelectObject(context, previous);
    return metrics.tmHeight;
}

// Sent once, before WM_INITDIALOG: the fonts are made here because the height depends on them.
void onMeasureItem(HWND dialog, MEASUREITEMSTRUCT& measure) {
    if (!state.normalFont) state.normalFont = createPointFont(dialog, kFontPoints, FW_NORMAL);
    if (!state.boldFont) state.boldFont = createPointFont(dialog, kFontPoints, FW_BOLD);
    HWND list = unitList(dialog);
    HDC context = GetDC(list);
    measure.itemHeight = static_cast<UINT>(textHeight(context, state.boldFont) + kItemPadding);
    ReleaseDC(list, context);
}

int compareEntries(const COMPAREITEMSTRUCT& compare) {
    auto* a = reinterpret_cast<const UnitEntry*>(compare.itemData1);
    auto* b = reinterpret_cast<const UnitEntry*>(compare.itemData2);
    if (!a || !b || a->bootload == b->bootload) return 0;
    return a->bootload ? -1 : 1;
}

void drawEntry(const DRAWITEMSTRUCT& draw) {
    if (!(draw.itemAction & (ODA_DRAWENTIRE | ODA_SELECT | ODA_FOCUS))) return;
    auto* entry = reinterpret_cast<const UnitEntry*>(draw.itemData);
    HDC context = draw.hDC;
    HGDIOBJ previousFont = SelectObject(context, entry->bootload ? state.boldFont : state.normalFont);
    COLORREF previousText = GetTextColor(context);
    COLORREF previousBack = GetBkColor(context);
    RECT box = draw.rcItem;
    if (draw.itemState & ODS_SELECTED) {
        FillRect(context, &box, GetSysColorBrush(COLOR_HIGHLIGHT));
        SetTextColor(context, GetSysColor(COLOR_HIGHLIGHTTEXT));
        SetBkColor(context, GetSysColor(COLOR_HIGHLIGHT));
    } else {
        FillRect(context, &box, GetSysColorBrush(COLOR_WINDOW));
        SetBkColor(context, GetSysColor(COLOR_WINDOW));
        if (entry->linkLocal) {
            SetTextColor(context, kLinkLocalColour);
        } else if (entry->otherSubnet) {
            SetTextColor(context, kOtherSubnetColour);
        }
    }
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    int top = (box.top + box.bottom - metrics.tmHeight) / 2;
    TextOutW(context, 0, top, entry->displayText, static_cast<int>(std::wcslen(entry->displayText)));
    SelectObject(context, previousFont);
    SetTextColor(context, previousText);
    SetBkColor(context, previousBack);
    if (draw.itemState & ODS_FOCUS) DrawFocusRect(context, &box);
}

UnitAddress addressOf(const UnitEntry& entry) {
    if (entry.ipAddress != 0) return UnitAddress::network(entry.ipAddress);
    return UnitAddress::serialPort(comPortAt(entry.portIndex));
}

void showAs(UnitEntry& entry, const UnitAddress& unit) {
    const std::wstring text = unit.displayText();
    std::wcsncpy(entry.displayText, text.c_str(), std::size(entry.displayText) - 1);
}

void onNetworkUnitFound(HWND dialog, WPARAM flags, LPARAM address) {
    auto ipAddress = static_cast<uint32_t>(address);
    if (alreadyListed(dialog, [&](const UnitEntry& entry) { return entry.ipAddress == ipAddress; })) return;
    auto entry = std::make_unique<UnitEntry>();
    entry->reports = 1;
    entry->ipAddress = ipAddress;
    entry->bootload = (flags & UNIT_FLAG_BOOTLOAD) ? 1 : 0;
    entry->linkLocal = (flags & UNIT_FLAG_LINK_LOCAL) ? 1 : 0;
    entry->otherSubnet = (flags & UNIT_FLAG_OTHER_SUBNET) ? 1 : 0;
    showAs(*entry, UnitAddress::network(ipAddress));
    addEntry(dialog, std::move(entry));
}

void onSerialUnitFound(HWND dialog, WPARAM mode, LPARAM port) {
    auto portIndex = static_cast<uint32_t>(port);
    if (alreadyListed(dialog,
                      [&](const UnitEntry& entry) { return entry.ipAddress == 0 && entry.portIndex == portIndex; })) {
        return;
    }
    auto entry = std::make_unique<UnitEntry>();
    entry->reports = 1;
    entry->bootload = (mode & 1) ? 1 : 0;
    entry->portIndex = portIndex;
    showAs(*entry, UnitAddress::serialPort(comPortAt(portIndex)));
    addEntry(dialog, std::move(entry));
}

void enableVersionControls(HWND dialog, bool on) {
    for (int id : {IDC_BOOTLOADER_VERSION, IDC_BOOTLOADER_VERSION_LABEL, IDC_APP_VERSION_LABEL, IDC_APP_VERSION}) {
        EnableWindow(GetDlgItem(dialog, id), on);
    }
}

void setVersionTexts(HWND dialog, const wchar_t* text) {
    SetDlgItemTextW(dialog, IDC_BOOTLOADER_VERSION, text);
    SetDlgItemTextW(dialog, IDC_APP_VERSION, text);
}

void requestVersions(const UnitEntry& entry) {
    postDeviceRequest(std::make_unique<DeviceRequest>(deviceRequestFor(state.sink, addressOf(entry))));
}

void onSelectionChanged(HWND dialog) {
    UnitEntry* entry = selectedEntry(dialog);
    if (!entry) {
        enableVersionControls(dialog, false);
        setVersionTexts(dialog, L"");
        return;
    }
    stopDiscovery();
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    if (entry->bootload) {
        enableVersionControls(dialog, true);
        setVersionTexts(dialog, uiString(kSearching));
        requestVersions(*entry);
    } else {
        enableVersionControls(dialog, false);
        setVersionTexts(dialog, L"");
    }
}

void showVersion(HWND dialog, int id, unsigned major, unsigned minor) {
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%u.%u", major, minor);
    SetDlgItemTextW(dialog, id, text);
}

void onApplicationVersion(HWND dialog, LPARAM version) {
    auto value = static_cast<uint32_t>(version);
    if (value == 0 || value == APP_VERSION_NONE) {
        SetDlgItemTextW(dialog, IDC_APP_VERSION, uiString(kNotFound));
        return;
    }
    showVersion(dialog, IDC_APP_VERSION, value >> 16, value & 0xFFFF);
}

// A unit still in its application is allowed, with a reminder.
void onChoose(HWND dialog) {
    UnitEntry* entry = selectedEntry(dialog);
    if (!entry) {
        EndDialog(dialog, IDCANCEL);
        return;
    }
    if (!entry->bootload)
        MessageBoxW(dialog, uiString(kPlaceUnitInBootloadMode), uiString(kBootloadModeTitle),
                    MB_OK | MB_ICONINFORMATION);
    EndDialog(dialog, static_cast<INT_PTR>(discoverResultOf(*entry)));
}

void onInitDialog(HWND dialog, bool networkMode) {
    HWND list = unitList(dialog);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(state.normalFont), FALSE);
    state.networkMode = networkMode;
    state.sink = new DialogSink(dialog);
    if (!networkMode) SetWindowLongPtrW(list, GWL_STYLE, GetWindowLongPtrW(list, GWL_STYLE) & ~LBS_SORT);
    startDiscovery(networkMode);
}

void onDestroy(HWND dialog) {
    stopDiscovery();
    state.sink->detach();
    state.sink = nullptr;
    DeleteObject(state.normalFont);
    DeleteObject(state.boldFont);
    state.normalFont = nullptr;
    state.boldFont = nullptr;
    for (int index = 0; index < entryCount(dialog); ++index) delete entryAt(dialog, index);
}

bool onWorkerMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WMU_NETWORK_UNIT_FOUND: onNetworkUnitFound(dialog, wParam, lParam); return true;
        case WMU_SERIAL_UNIT_FOUND: onSerialUnitFound(dialog, wParam, lParam); return true;
        case WMU_BOOTLOADER_FOUND:
            showVersion(dialog, IDC_BOOTLOADER_VERSION, (wParam >> 8) & 0xFF, wParam & 0xFF);
            return true;
        case WMU_NO_BOOTLOADER: SetDlgItemTextW(dialog, IDC_BOOTLOADER_VERSION, uiString(kNotFound)); return true;
        case WMU_APP_VERSION: onApplicationVersion(dialog, lParam); return true;
        case WMU_QUERY_DONE:
            if (!state.networkMode) startDiscovery(false);
            return true;
        default: return false;
    }
}

void onCommand(HWND dialog, WORD id, WORD notification) {
    switch (id) {
        case IDC_UNIT_LIST:
            if (notification == LBN_SELCHANGE) onSelectionChanged(dialog);
            if (notification == LBN_DBLCLK) onChoose(dialog);
            break;
        case IDOK: onChoose(dialog); break;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
        default: break;
    }
}

INT_PTR CALLBACK discoverDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MEASUREITEM: onMeasureItem(dialog, *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)); return TRUE;
        case WM_INITDIALOG: onInitDialog(dialog, lParam != 0); return TRUE;
        case WM_COMPAREITEM:
            // One of the few messages whose result is the procedure's own return value.
            return compareEntries(*reinterpret_cast<COMPAREITEMSTRUCT*>(lParam));
        case WM_DRAWITEM: {
            auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            if (draw->itemID == static_cast<UINT>(-1) || draw->itemData == 0) return FALSE;
            drawEntry(*draw);
            return TRUE;
        }
        case WM_COMMAND: onCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
        case WM_DESTROY: onDestroy(dialog); return TRUE;
        default: return onWorkerMessage(dialog, message, wParam, lParam) ? TRUE : FALSE;
    }
}

}  // namespace

// One discovery thread at a time: a restart joins the one before.
void startDiscovery(bool networkMode) {
    stopDiscovery();
    discoveryStop = false;
    auto entry = networkMode ? networkDiscoveryThreadEntry : serialDiscoveryThreadEntry;
    uintptr_t handle = _beginthreadex(nullptr, 0, entry, static_cast<platform::MessageSink*>(state.sink), 0, nullptr);
    discoveryThread = reinterpret_cast<HANDLE>(handle);
}

void stopDiscovery() {
    discoveryStop = true;
    if (!discoveryThread) return;
    WaitForSingleObject(discoveryThread, INFINITE);
    CloseHandle(discoveryThread);
    discoveryThread = nullptr;
}

uint32_t discoverResultOf(const UnitEntry& entry) {
    return entry.ipAddress != 0 ? entry.ipAddress : (kSerialResultBase | entry.portIndex);
}

INT_PTR showDiscoverDialog(HINSTANCE instance, HWND owner, bool networkMode) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_DISCOVER), owner, discoverDialogProc, networkMode ? 1 : 0);
}
