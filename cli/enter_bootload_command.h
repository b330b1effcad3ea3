// `ztupdate enter-bootload`: the Enter Bootload dialog's sequence with the Installer PIN.
#pragma once

#include <string>

#include "cli/command.h"
#include "cli/global_options.h"

int runEnterBootloadCommand(const GlobalOptions& options, const std::string& pinFile);
CliCommand addEnterBootloadCommand(CLI::App& app);
