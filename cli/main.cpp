// ztupdate: global options, the start-up loads, then one command.
#include <CLI/CLI.hpp>

#include <cstdio>

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
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/network.h"
#include "startup/embedded_content.h"

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

CLI::App* addCommand(CLI::App& app, const char* name, const HelpText& help) {
    CLI::App* command = app.add_subcommand(name, help.summary);
    command->footer(globalOptionsText(app) + help.footer);
    // Global options may follow the command too: `ztupdate status --ip 192.0.2.10 --json`.
    command->fallthrough();
    return command;
}

void addImageOptions(CLI::App* command, ImageChoice& images) {
    command->add_option("--hex", images.hexFile, "Intel HEX application image to use instead of the embedded one")
        ->type_name("FILE");
    command->add_option("--flash", images.flashFile, "web-content flash image to use instead of the embedded one")
        ->type_name("FILE");
}

// The stage choices and the confirmation, as update and upgrade both take them.
void addUpdateOptions(CLI::App* command, UpdateCommandOptions& update) {
    command->add_flag("--no-firmware", update.noFirmware, "leave the application firmware as it is");
    command->add_flag("--no-ui", update.noUi, "leave the web-content flash image as it is");
    command->add_flag("--factory-defaults", update.factoryDefaults, "also restore the factory defaults");
    addImageOptions(command, update.images);
    command->add_flag("-y,--yes", update.yes, "do not ask for confirmation (required without a terminal)");
    command->add_flag("--fast-resend", update.fastResend,
                      "resend to sequenced bootloaders after their measured reply time from the first loss on");
    command
        ->add_flag("--described-timing", update.describedTiming,
                   "always wait the full interval before a resend, as the Windows program does")
        ->excludes("--fast-resend");
    command->add_flag("--allow-reinstall", update.allowReinstall,
                      "also write the firmware to a unit that has the same version already");
    command->add_flag("--allow-older", update.allowOlder,
                      "also write the firmware to a unit that has a newer version (going back)");
}

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

    CLI::App* info = addCommand(app, "info", kInfoHelp);
    CLI::App* version = addCommand(app, "version", kVersionHelp);

    ImageChoice inspectImages;
    bool inspectRanges = false;
    CLI::App* inspect = addCommand(app, "inspect", kInspectHelp);
    addImageOptions(inspect, inspectImages);
    inspect->add_flag("--ranges", inspectRanges, "also list every address range of the application image");

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

    UpdateCommandOptions updateCommandOptions;
    CLI::App* update = addCommand(app, "update", kUpdateHelp);
    addUpdateOptions(update, updateCommandOptions);

    UpgradeCommandOptions upgradeOptions;
    CLI::App* upgrade = addCommand(app, "upgrade", kUpgradeHelp);
    addUpdateOptions(upgrade, upgradeOptions.update);
    upgrade->add_option("--pin-file", upgradeOptions.pinFile, "file whose first line is the Installer PIN")
        ->type_name("FILE");
    upgrade->add_flag("--stay-in-bootload", upgradeOptions.stayInBootload,
                      "leave each unit in bootload mode after its update");
    upgrade
        ->add_option("--retry", upgradeOptions.retries,
                     "try a failed unit again up to N times, after the others had their turn (default 0)")
        ->check(CLI::Range(0, 10))
        ->type_name("N");
    upgrade
        ->add_option("--restart-seconds", upgradeOptions.restartSeconds,
                     "how long a unit may take to restart into its bootloader or its application (default 60)")
        ->check(CLI::Range(1, 600))
        ->type_name("N");
    upgrade->add_option("--report", upgradeOptions.reportFile, "also write the JSON result to FILE")->type_name("FILE");

    CLI::App* exitBootload = addCommand(app, "exit-bootload", kExitBootloadHelp);

    std::string shell;
    CLI::App* completion = addCommand(app, "completion", kCompletionHelp);
    completion->add_option("SHELL", shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}));

    std::string helpTopic;
    CLI::App* help = addCommand(app, "help", kHelpHelp);
    help->add_option("COMMAND", helpTopic, "the command whose options and examples to show");

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
    if (help->parsed()) return printHelp(app, std::string(helpTopic));
    if (completion->parsed()) {
        std::fputs(completionScript(app, shell).c_str(), stdout);
        return kExitSuccess;
    }

    platform::installInterruptHandling();
    loadEmbeddedContent();
    if (info->parsed()) return runInfoCommand(options);
    if (version->parsed()) {
        printVersion(options.json);
        return kExitSuccess;
    }
    if (inspect->parsed()) return runInspectCommand(options, inspectImages, inspectRanges);
    if (ports->parsed()) return runPortsCommand(options);

    if (nothingFailedIn(options)) return reportNothingFailed(options);
    if (!platform::startNetworking()) {
        std::fprintf(stderr, "ztupdate: the network could not be started\n");
        return kExitFailed;
    }
    int result = kExitUsage;
    if (discover->parsed()) result = runDiscoverCommand(options, discoverOptions);
    if (status->parsed()) result = runStatusCommand(options);
    if (enter->parsed()) result = runEnterBootloadCommand(options, pinFile);
    if (update->parsed()) result = runUpdateCommand(options, updateCommandOptions);
    if (upgrade->parsed()) result = runUpgradeCommand(options, upgradeOptions);
    if (exitBootload->parsed()) result = runExitBootloadCommand(options);
    platform::stopNetworking();
    if (platform::interruptSignal() != 0 && result < kExitInterrupted)
        result = kExitInterrupted + platform::interruptSignal();
    return result;
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
