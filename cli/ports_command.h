// `ztupdate ports`: the serial ports that can be opened now.
#pragma once

#include "cli/global_options.h"

int runPortsCommand(const GlobalOptions& options);
