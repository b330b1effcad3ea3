// `ztupdate ports`: the serial ports that can be opened now.
#pragma once

#include "cli/command.h"
#include "cli/global_options.h"

int runPortsCommand(const GlobalOptions& options);
CliCommand addPortsCommand(CLI::App& app);
