// `ztupdate exit-bootload`: tells every named unit's bootloader to leave bootload mode.
#pragma once

#include "cli/command.h"
#include "cli/global_options.h"

int runExitBootloadCommand(const GlobalOptions& options);
CliCommand addExitBootloadCommand(CLI::App& app);
