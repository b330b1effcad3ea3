// `ztupdate status`: what the main window would show after asking each unit for its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/global_options.h"
#include "platform/window_messages.h"

struct UnitStatus {
    std::optional<std::string> bootloader;    // "3.1"
    std::optional<std::string> application;   // "1.12"
    std::optional<std::string> bootloadMode;  // "enabled" or "disabled"
    // Versions 3.0 to 3.2 are the ones an update can program; others are shown as unsupported.
    bool bootloaderSupported = false;
};

// The lines `status` prints for one unit, worded for what the answers mean.
std::string statusText(const std::string& target, const UnitStatus& status);

// Folds the device request worker's answer sequence into the status fields, as the main
// window's buttons and version text would end up.
UnitStatus statusFromMessages(const std::vector<platform::WindowMessage>& messages);

int runStatusCommand(const GlobalOptions& options);
CliCommand addStatusCommand(CLI::App& app);
