// `ztupdate info`: what this build carries.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/global_options.h"

// Prints the model, versions, image figures and release notes; --json gives one document.
int runInfoCommand(const GlobalOptions& options);
CliCommand addInfoCommand(CLI::App& app);

// "ztupdate 1.12.0" and the firmware this build carries, for --version and `ztupdate version`.
std::string versionText();
// The same as `--json version` prints it.
nlohmann::json versionDocument();
