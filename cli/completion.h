// Shell completion scripts written from the option table itself, so they cannot drift from
// the options: `ztupdate completion bash|zsh|fish`.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "cli/command.h"

// The script for shell ("bash", "zsh" or "fish"); empty for another name.
std::string completionScript(const CLI::App& app, const std::string& shell);

// `ztupdate completion SHELL`, written from the options of `app`, which must outlive it.
CliCommand addCompletionCommand(CLI::App& app);
