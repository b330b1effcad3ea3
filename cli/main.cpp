// ztupdate: global options, the start-up loads, then one command.
#include <CLI/CLI.hpp>

#include "cli/discover_command.h"
#include "cli/enter_bootload_command.h"
#include "cli/exit_bootload_command.h"
#include "cli/exit_status.h"
#include "cli/global_options.h"
#include "cli/help_texts.h"
#include "cli/info_command.h"
#include "cli/inspect_command.h"
#include "cli/ports_command.h"
#include "cli/status_command.h"
#include "cli/update_command.h"
#include "content/content_globals.h"
#include "platform/network.h"

namespace {

CLI::App* addCommand(CLI::App& app, const char* name, const HelpText& help) {
    CLI::App* command = app.add_subcommand(name, help.summary);
    command->footer(help.footer);
    return command;
}

void addImageOptions(CLI::App* command, ImageChoice& images) {
    command->add_option("--hex", images.hexFile, "Intel HEX application image to use instead of the embedded one")
        ->type_name("FILE");
    command->add_option("--flash", images.flashFile, "web-content flash image to use instead of the embedded one")
        ->type_name("FILE");
}

}  // namespace

int main(int argc, char** argv) {
    GlobalOptions options;
    CLI::App app{"ztupdate: update ZT Series units from the command line (same engine, commands and time-outs as the updater window)"};
    app.footer(kMainHelp.footer);
    app.add_option("--ip", options.unitAddresses, "IPv4 address of a unit (repeat for several units)")
        ->type_name("ADDRESS");
    app.add_option("--serial", options.serialPorts, "serial port of a unit, e.g. /dev/ttyUSB0 or COM3 (repeatable)")
        ->type_name("PORT");
    app.add_option("--parser-port", options.parserPort, "the unit's TCP command port (default 4999)")
        ->check(CLI::Range(1024, 65535))
        ->type_name("N");
    app.add_flag("--json", options.json, "print one JSON document on standard output and nothing else there");
    app.add_flag("-q,--quiet", options.quiet, "print only results");
    app.add_flag("-v,--verbose", options.verbose, "print more about each step");
    app.require_subcommand(1);

    CLI::App* info = addCommand(app, "info", kInfoHelp);

    ImageChoice inspectImages;
    CLI::App* inspect = addCommand(app, "inspect", kInspectHelp);
    addImageOptions(inspect, inspectImages);

    CLI::App* ports = addCommand(app, "ports", kPortsHelp);

    DiscoverCommandOptions discoverOptions;
    CLI::App* discover = addCommand(app, "discover", kDiscoverHelp);
    discover->add_flag("--serial", discoverOptions.serial, "probe the serial ports instead of the networks");
    discover->add_option("--seconds", discoverOptions.seconds, "how long to look (default 5)")
        ->check(CLI::Range(1, 3600))
        ->type_name("N");

    CLI::App* status = addCommand(app, "status", kStatusHelp);

    std::string pinFile;
    CLI::App* enter = addCommand(app, "enter-bootload", kEnterBootloadHelp);
    enter->add_option("--pin-file", pinFile, "file whose first line is the Installer PIN")->type_name("FILE");

    UpdateCommandOptions updateOptions;
    CLI::App* update = addCommand(app, "update", kUpdateHelp);
    update->add_flag("--no-firmware", updateOptions.noFirmware, "leave the application firmware as it is");
    update->add_flag("--no-ui", updateOptions.noUi, "leave the web-content flash image as it is");
    update->add_flag("--factory-defaults", updateOptions.factoryDefaults, "also restore the factory defaults");
    addImageOptions(update, updateOptions.images);
    update->add_flag("-y,--yes", updateOptions.yes, "do not ask for confirmation (required without a terminal)");

    CLI::App* exitBootload = addCommand(app, "exit-bootload", kExitBootloadHelp);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int shown = app.exit(e);
        return shown == 0 ? kExitSuccess : kExitUsage;
    }

    loadEmbeddedContent();
    if (info->parsed()) return runInfoCommand(options);
    if (inspect->parsed()) return runInspectCommand(options, inspectImages);
    if (ports->parsed()) return runPortsCommand(options);

    if (!platform::startNetworking()) {
        std::fprintf(stderr, "ztupdate: the network could not be started\n");
        return kExitFailed;
    }
    int result = kExitUsage;
    if (discover->parsed()) result = runDiscoverCommand(options, discoverOptions);
    if (status->parsed()) result = runStatusCommand(options);
    if (enter->parsed()) result = runEnterBootloadCommand(options, pinFile);
    if (update->parsed()) result = runUpdateCommand(options, updateOptions);
    if (exitBootload->parsed()) result = runExitBootloadCommand(options);
    platform::stopNetworking();
    return result;
}
