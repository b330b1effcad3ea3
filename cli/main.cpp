// ztupdate: global options, the start-up loads, then one command.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/completion.h"
#include "cli/discover_command.h"
#include "cli/enter_bootload_command.h"
#include "cli/exit_bootload_command.h"
#include "cli/exit_status.h"
#include "cli/global_options.h"
#include "cli/help_texts.h"
#include "cli/info_command.h"
#include "cli/inspect_command.h"
#include "cli/json_output.h"
#include "cli/ports_command.h"
#include "cli/run_record.h"
#include "cli/status_command.h"
#include "cli/target_text.h"
#include "cli/update_command.h"
#include "cli/upgrade_command.h"
#include "cli/usage_advice.h"
#include "commandport/command_port.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/network.h"
#include "startup/embedded_content.h"

namespace {

void addGlobalOptions(CLI::App& app, GlobalOptions& options) {
    app.add_option("--ip", options.unitAddresses, "IPv4 address of a unit (repeat for several units)")
        ->type_name("ADDRESS");
    app.add_option("--serial", options.serialPorts, "serial port of a unit, e.g. /dev/ttyUSB0 or COM3 (repeatable)")
        ->type_name("PORT");
    app.add_option("--units", options.unitFiles, "file naming one unit a line (address or serial port; # comments)")
        ->type_name("FILE");
    app.add_option("--units-from", options.unitsFrom, "the units of an earlier --json or --report result")
        ->type_name("FILE");
    app.add_flag("--failed", options.failedOnly, "with --units-from: only the units whose run failed");
    app.add_option("--jobs", options.jobs, "at most N units at once; the others wait their turn (default: all)")
        ->check(CLI::Range(1, 1024))
        ->type_name("N");
    app.add_option("--parser-port", options.parserPort, "the unit's TCP command port (default 4999)")
        ->check(CLI::Range(1024, 65535))
        ->type_name("N");
    app.add_flag("--json", options.json, "print one JSON document on standard output and nothing else there");
    app.add_flag("-q,--quiet", options.quiet, "print only results");
    app.add_flag("-v,--verbose", options.verbose,
                 "log each stage's start and time, every resend, time-out and dropped frame on standard error");
    app.add_option("--log", options.logFile, "append the -v lines to FILE, whatever -v says")->type_name("FILE");
}

// `ztupdate help [COMMAND]`: the whole help, or one command's.
int printHelp(CLI::App& app, const std::string& topic) {
    // The app's help is the selected command's until the parse is forgotten.
    app.clear();
    if (topic.empty()) {
        std::fputs(app.help().c_str(), stdout);
        return kExitSuccess;
    }
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (command->get_name() == topic) {
            std::fputs(command->help(app.get_name()).c_str(), stdout);
            return kExitSuccess;
        }
    }
    const std::string nearest = nearestCommand(app, topic);
    return reportUsageError("'" + shownText(topic) + "' is not a command" +
                            (nearest.empty() ? "" : "; did you mean '" + nearest + "'?"));
}

bool asksForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) return true;
    }
    return false;
}

// The program's versions, as `version` prints them.
void printVersion(bool json) {
    if (json) {
        printJsonDocument(versionDocument());
    } else {
        std::puts(versionText().c_str());
    }
}

// --units-from REPORT --failed when nothing failed: said, and a success.
int reportNothingFailed(const GlobalOptions& options) {
    const std::string text = "no unit failed in " + shownText(options.unitsFrom, kShownWhole) + "; nothing to do";
    if (options.json) {
        std::fprintf(stderr, "ztupdate: %s\n", text.c_str());
        printJsonDocument({{"units", nlohmann::json::array()}});
    } else {
        std::printf("%s\n", text.c_str());
    }
    return kExitSuccess;
}

// A result lost on the way out (a full disk behind `> out.json`) is a failure, not a success.
int withOutputDelivered(int status) {
    std::string reason;
    if (standardOutputDelivered(reason)) return status;
    std::fprintf(stderr, "ztupdate: standard output: the result could not be written: %s\n", reason.c_str());
    return worseStatus(status, kExitFailed);
}

CliCommand addVersionCommand(CLI::App& app) {
    return {addSubcommand(app, "version", kVersionHelp), CommandNeeds::kContent, [](const GlobalOptions& options) {
                printVersion(options.json);
                return kExitSuccess;
            }};
}

CliCommand addHelpCommand(CLI::App& app) {
    auto topic = std::make_shared<std::string>();
    CLI::App* help = addSubcommand(app, "help", kHelpHelp);
    help->add_option("COMMAND", *topic, "the command whose options and examples to show");
    return {help, CommandNeeds::kNothing,
            [&app, topic](const GlobalOptions&) { return printHelp(app, std::string(*topic)); }};
}

// Every command, in the order the help lists them.
std::vector<CliCommand> addCommands(CLI::App& app) {
    // A braced list is built in order, so the help lists the commands as they stand here.
    return {addInfoCommand(app),     addVersionCommand(app),      addInspectCommand(app),       addPortsCommand(app),
            addDiscoverCommand(app), addStatusCommand(app),       addEnterBootloadCommand(app), addUpdateCommand(app),
            addUpgradeCommand(app),  addExitBootloadCommand(app), addCompletionCommand(app),    addHelpCommand(app)};
}

// What a command that talks to units starts and ends with around its run.
int runOnNetwork(const CliCommand& command, const GlobalOptions& options) {
    if (nothingFailedIn(options)) return reportNothingFailed(options);
    if (!platform::startNetworking()) {
        std::fprintf(stderr, "ztupdate: the network could not be started\n");
        return kExitFailed;
    }
    // The device request worker, which status and upgrade share with the window, reads the
    // window's setting; the commands' own probes and unlocks are given the port.
    parserPort = options.parserPort;
    int result = command.run(options);
    platform::stopNetworking();
    if (platform::interruptSignal() != 0 && result < kExitInterrupted)
        result = kExitInterrupted + platform::interruptSignal();
    return result;
}

int runCommand(const CliCommand& command, const GlobalOptions& options) {
    if (command.needs == CommandNeeds::kNothing) return command.run(options);
    platform::installInterruptHandling();
    loadEmbeddedContent();
    if (command.needs == CommandNeeds::kContent) return command.run(options);
    return runOnNetwork(command, options);
}

int runProgram(int argc, char** argv) {
    GlobalOptions options;
    options.commandLine = commandLineText(argc, argv);
    CLI::App app{
        "ztupdate: update ZT Series units from the command line (same engine, commands and time-outs as the updater "
        "window)"};
    app.footer(kMainHelp.footer);
    addGlobalOptions(app, options);
    bool showVersion = false;
    app.add_flag("-V,--version", showVersion, "print the program's version and the firmware it carries");
    app.require_subcommand(1);
    const std::vector<CliCommand> commands = addCommands(app);

    if (argc == 1) {
        std::fputs(shortUsage(app).c_str(), stderr);
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::RequiredError& e) {
        // `ztupdate --version` names no command.
        if (!showVersion) {
            noteError("usage", e.what());
            if (reportUsageAdvice(app, argc, argv)) return kExitUsage;
            return app.exit(e) == 0 ? kExitSuccess : kExitUsage;
        }
    } catch (const CLI::ParseError& e) {
        noteError("usage", e.what());
        if (e.get_exit_code() != 0 && reportUsageAdvice(app, argc, argv)) return kExitUsage;
        const int shown = app.exit(e);
        return shown == 0 ? kExitSuccess : kExitUsage;
    }
    if (showVersion) {
        loadEmbeddedContent();
        printVersion(options.json);
        return kExitSuccess;
    }
    for (const CliCommand& command : commands) {
        if (command.subcommand->parsed()) return runCommand(command, options);
    }
    return kExitUsage;
}

}  // namespace

int main(int nativeArgc, char** nativeArgv) {
    platform::Utf8Arguments arguments(nativeArgc, nativeArgv);
    const int argc = arguments.count();
    char** const argv = arguments.values();
    const int status = runProgram(argc, argv);
    if (asksForJson(argc, argv)) printErrorDocumentIfNone(status);
    return withOutputDelivered(status);
}
