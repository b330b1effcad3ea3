// `ztupdate enter-bootload`: the Enter Bootload dialog's sequence with the Installer PIN.
#pragma once

#include <string>

#include "cli/global_options.h"

int runEnterBootloadCommand(const GlobalOptions& options, const std::string& pinFile);
