// `ztupdate update`: the whole update on every named unit at once.
#pragma once

#include "cli/global_options.h"
#include "cli/update_run.h"

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update);
