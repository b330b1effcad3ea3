// The messages worker threads send to windows, and postStatus.
//
//   update / exit-bootload thread --post--> main window: STATUS_TEXT, PROGRESS_POS, one terminal
//                                  --send--> main window: PROGRESS_RANGE (before any position)
//   device request worker        --post--> requesting window: the answer sequences
//   discovery threads            --post--> Discover dialog: NETWORK_UNIT_FOUND, SERIAL_UNIT_FOUND
#pragma once

#include <cstdint>

#include "platform/window_messages.h"

constexpr uint32_t WM_APP_BASE = 0x8000;

constexpr uint32_t WMU_NETWORK_UNIT_FOUND = WM_APP_BASE + 0;
constexpr uint32_t WMU_SERIAL_UNIT_FOUND = WM_APP_BASE + 1;
constexpr uint32_t WMU_UPDATE_DONE = WM_APP_BASE + 2;
constexpr uint32_t WMU_UPDATE_FAILED = WM_APP_BASE + 3;
constexpr uint32_t WMU_STATUS_TEXT = WM_APP_BASE + 4;
constexpr uint32_t WMU_WRONG_RESPONSE = WM_APP_BASE + 5;
constexpr uint32_t WMU_NO_RESPONSE = WM_APP_BASE + 6;
constexpr uint32_t WMU_BOOTLOAD_EXITED = WM_APP_BASE + 7;
// WM_APP + 8 is not used.
constexpr uint32_t WMU_BOOTLOADER_FOUND = WM_APP_BASE + 9;
constexpr uint32_t WMU_NO_BOOTLOADER = WM_APP_BASE + 10;
constexpr uint32_t WMU_APP_VERSION = WM_APP_BASE + 11;
constexpr uint32_t WMU_QUERY_DONE = WM_APP_BASE + 12;
constexpr uint32_t WMU_ENTER_BOOTLOAD_ALLOWED = WM_APP_BASE + 13;
constexpr uint32_t WMU_EXIT_BOOTLOAD_ALLOWED = WM_APP_BASE + 14;
constexpr uint32_t WMU_PROGRESS_RANGE = WM_APP_BASE + 15;
constexpr uint32_t WMU_PROGRESS_POS = WM_APP_BASE + 16;

// Flags of WMU_NETWORK_UNIT_FOUND's wParam.
constexpr uint32_t UNIT_FLAG_BOOTLOAD = 0x0001;
constexpr uint32_t UNIT_FLAG_OTHER_SUBNET = 0x4000;
constexpr uint32_t UNIT_FLAG_LINK_LOCAL = 0x8000;

// WMU_APP_VERSION's lParam when the unit reported no application version.
constexpr uint32_t APP_VERSION_NONE = 0xFFFFFFFFu;

constexpr int kStatusTextChars = 128;

// UI string 154 ("Progress: %s") with `text` in place of its "%s", cut to fit the status line.
std::wstring formatStatus(const wchar_t* text);

// What a WMU_STATUS_TEXT announces (its wParam): the two stages that count records and bytes,
// or any other step. Readers go by this value, never by the text.
enum class RunStage : uint32_t { kOther = 0, kApplication = 1, kFlash = 2 };

// Delivers WMU_STATUS_TEXT: the stage in wParam and the step's name as the message's own copy
// (a window shows it through formatStatus). Posted when `post` is true (worker threads), sent
// otherwise (the window's own thread).
bool postStatus(platform::WindowHandle window, const wchar_t* text, bool post, RunStage stage = RunStage::kOther);

// The terminal messages of an update or exit-bootload run.
bool isTerminalMessage(uint32_t id);
