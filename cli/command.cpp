// The pieces every command's subcommand is built from.
#include "cli/command.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

// The global options as each command's help lists them, from the option table.
std::string globalOptionsText(const CLI::App& app) {
    std::string text = "\nGlobal options (before or after the command):\n";
    for (const CLI::Option* option : app.get_options()) {
        std::string names = option->get_name(false, true);
        if (names == "-h,--help") continue;
        // The type name alone: CLI11 appends a check's description ("N:INT in [...]").
        if (option->get_expected_min() > 0)
            names += " " + option->get_type_name().substr(0, option->get_type_name().find(':'));
        char line[256];
        std::snprintf(line, sizeof line, "  %-22s %s\n", names.c_str(), option->get_description().c_str());
        text += line;
    }
    return text;
}

}  // namespace

CLI::App* addSubcommand(CLI::App& app, const char* name, const HelpText& help) {
    CLI::App* command = app.add_subcommand(name, help.summary);
    command->footer(globalOptionsText(app) + help.footer);
    command->fallthrough();
    return command;
}

void addImageOptions(CLI::App* command, ImageChoice& images) {
    command->add_option("--hex", images.hexFile, "Intel HEX application image to use instead of the embedded one")
        ->type_name("FILE");
    command->add_option("--flash", images.flashFile, "web-content flash image to use instead of the embedded one")
        ->type_name("FILE");
}
