// ztupdate: global options, the start-up loads, then one command.
#include <CLI/CLI.hpp>

#include "cli/global_options.h"
#include "cli/info_command.h"
#include "content/content_globals.h"

int main(int argc, char** argv) {
    GlobalOptions options;
    CLI::App app{"ZT Series firmware updater"};
    app.add_option("--ip", options.unitAddresses, "IPv4 address of a unit (repeatable)")
        ->type_name("ADDRESS");
    app.add_option("--serial", options.serialPorts, "serial port of a unit (repeatable)")
        ->type_name("PORT");
    app.add_option("--parser-port", options.parserPort, "the unit's TCP command port")
        ->check(CLI::Range(1024, 65535))
        ->type_name("N");
    app.add_flag("--json", options.json, "print one JSON document");
    app.add_flag("-q,--quiet", options.quiet, "print only results");
    app.add_flag("-v,--verbose", options.verbose, "print each step");
    CLI::App* info = app.add_subcommand("info", "show what this build carries");
    app.require_subcommand(1);
    CLI11_PARSE(app, argc, argv);

    loadEmbeddedContent();
    if (info->parsed()) return runInfoCommand(options);
    return 1;
}
