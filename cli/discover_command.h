// `ztupdate discover`: the units that answer on the local networks, or on the serial ports.
#pragma once

#include "cli/command.h"
#include "cli/global_options.h"

struct DiscoverCommandOptions {
    bool serial = false;
    unsigned seconds = 5;
};

int runDiscoverCommand(const GlobalOptions& options, const DiscoverCommandOptions& discover);
CliCommand addDiscoverCommand(CLI::App& app);
