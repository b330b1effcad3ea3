// `ztupdate status`: what the main window would show after asking each unit for its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/global_options.h"
#include "platform/window_messages.h"

struct UnitStatus {
    std::optional<std::string> bootloader;     // "3.1"
    std::optional<std::string> application;    // "1.12"
    std::optional<std::string> bootloadMode;   // "enabled" or "disabled"
};

// Folds the device request worker's answer sequence into the status fields, as the main
// window's buttons and version text would end up.
UnitStatus statusFromMessages(const std::vector<platform::WindowMessage>& messages);

int runStatusCommand(const GlobalOptions& options);
