// Update and exit-bootload runs: one blocking conversation with a unit's bootloader each,
// reported to a window by messages.
//
//   update:  [STATUS "Initializing"] identify --no reply--> NO_RESPONSE
//                                             --bad-------> WRONG_RESPONSE
//            app-version query, send PROGRESS_RANGE(total)
//            [STATUS stage, PROGRESS_POS...] per selected stage --failure--> UPDATE_FAILED
//            closing command --> UPDATE_DONE
//   exit:    identify (as above) --> leave command --> BOOTLOAD_EXITED
// Exactly one terminal message per run, and it is the run's last message.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "bootloader/bootloader_engine.h"
#include "content/bin_manager.h"
#include "content/hex_manager.h"
#include "platform/window_messages.h"
#include "transport/transport.h"

// The Overwrite choices; each flag is written whole by the window's thread, read by the run.
struct UpdateOptions {
    std::atomic<uint8_t> overwriteServerFirmware{0};
    std::atomic<uint8_t> overwriteServerUi{0};
    std::atomic<uint8_t> overwriteFactoryDefaults{0};
};

// What the window hands to an update or exit run: where to report and the unit's transport.
struct BootloadRequest {
    platform::WindowHandle window = nullptr;
    std::unique_ptr<Transport> transport;
    // Set by the window to end an update at its next request (see UpdateJob::stopRequested).
    const std::atomic<bool>* stopRequested = nullptr;
};

// Everything one update works on. The window's runs use the process-wide objects; the
// command-line tool gives each unit its own engine and image readers so units run in parallel.
struct UpdateJob {
    BootloaderEngine& engine;
    CHexManager& application;
    CBinManager& flash;
    const UpdateOptions& options;
    platform::WindowHandle window;
    // "server-fw-version" of the build, e.g. L"V1.12".
    const wchar_t* firmwareVersion;
    // Set by another thread to end the run before its next transaction (the run then fails
    // and `stopped` tells why). Null: the run is never stopped.
    const std::atomic<bool>* stopRequested = nullptr;
    bool stopped = false;
    // Why a run failed, besides a request without an acceptable reply: a plain reply that may
    // have been a late copy of an earlier one, or an image with nothing to write.
    bool repliesInDoubt = false;
    bool nothingToSend = false;
};

// Runs a whole update; the engine takes the transport. Returns the terminal message posted.
uint32_t runUpdate(UpdateJob& job, std::unique_ptr<Transport> transport);
// Which bootloaders an exit run tells to leave: those an update can program, or any that
// identifies itself properly (a unit put into bootload mode from its application goes back).
enum class LeaveScope { kUpdatable, kAnyVersion };
// Identifies the bootloader and tells it to leave bootload mode. Returns the terminal message.
uint32_t runExitBootload(BootloaderEngine& engine, platform::WindowHandle window, std::unique_ptr<Transport> transport,
                         LeaveScope scope = LeaveScope::kUpdatable);

// Thread entries for the window's runs, on the process-wide engine, images and options.
// Each ends about 500 ms after its terminal message.
void bootload_thread(BootloadRequest* request);
void exit_bootload_thread(BootloadRequest* request);

extern BootloaderEngine bootloaderEngine;
extern UpdateOptions updateOptions;

// Minor and major number of a "V<major>.<minor>" text; 1.1 when it does not read as one.
void parseFirmwareVersion(const wchar_t* text, uint8_t& minor, uint8_t& major);
