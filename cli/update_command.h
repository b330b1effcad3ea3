// `ztupdate update`: the whole update on every named unit at once.
#pragma once

#include "cli/global_options.h"
#include "cli/image_files.h"

struct UpdateCommandOptions {
    bool noFirmware = false;
    bool noUi = false;
    bool factoryDefaults = false;
    bool yes = false;
    ImageChoice images;
};

// The answers to "[y/N]" that mean yes: y and yes in any case.
bool isYes(const std::string& answer);

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update);
