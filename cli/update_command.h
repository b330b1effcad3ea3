// `ztupdate update`: the whole update on every named unit at once.
#pragma once

#include "cli/command.h"
#include "cli/global_options.h"
#include "cli/update_run.h"

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update);
CliCommand addUpdateCommand(CLI::App& app);
// The stage choices and the confirmation, as update and upgrade both take them.
void addUpdateOptions(CLI::App* command, UpdateCommandOptions& update);
