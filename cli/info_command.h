// `ztupdate info`: what this build carries.
#pragma once

#include "cli/global_options.h"

// Prints the model, versions, image figures and release notes; --json gives one document.
int runInfoCommand(const GlobalOptions& options);
