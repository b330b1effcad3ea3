// `ztupdate upgrade`: from whatever state each unit is in to running the new firmware, every
// unit in parallel: its state, bootload mode with the PIN, the update, the version read back,
// and back to its application.
#pragma once

#include <string>

#include "cli/command.h"
#include "cli/global_options.h"
#include "cli/update_command.h"
#include "cli/update_run.h"

struct UpgradeCommandOptions {
    UpdateCommandOptions update;
    std::string pinFile;
    bool stayInBootload = false;
    // How many more times a failed unit is tried, after the others have had their turn.
    unsigned retries = 0;
    // How long a unit may take to restart: into its bootloader, and back into its application.
    unsigned restartSeconds = 60;
    std::string reportFile;
};

int runUpgradeCommand(const GlobalOptions& options, const UpgradeCommandOptions& upgrade);
CliCommand addUpgradeCommand(CLI::App& app);
