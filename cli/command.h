// One ztupdate command as main runs it: its subcommand with its options, and what runs it. Each
// command file adds its own; main lists them in the order the help shows them.
#pragma once

#include <functional>

#include "cli/global_options.h"
#include "cli/help_texts.h"
#include "cli/image_files.h"

namespace CLI {
class App;
}

// What has to be ready before the command runs: nothing (help, completion), the embedded
// content (the commands that talk to no unit), or that and the network.
enum class CommandNeeds { kNothing, kContent, kNetwork };

struct CliCommand {
    // Owned by the program's CLI::App.
    CLI::App* subcommand;
    CommandNeeds needs;
    // Called once the command line is parsed; the command's own options are bound to state
    // the function holds.
    std::function<int(const GlobalOptions& options)> run;
};

// A subcommand whose help lists the global options (added before it), which may also follow
// it: `ztupdate status --ip 192.0.2.10 --json`.
CLI::App* addSubcommand(CLI::App& app, const char* name, const HelpText& help);

// --hex and --flash, as inspect, update and upgrade take them.
void addImageOptions(CLI::App* command, ImageChoice& images);
