// Checks the inputs, asks for confirmation, then runs one engine, transport and pair of image
// readers per unit in parallel, and reports one result per unit.
#include "cli/update_command.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "bootloader/update_sequence.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/progress_display.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "content/content_globals.h"
#include "platform/console.h"
#include "platform/text.h"
#include "ui/worker_messages.h"

namespace {

// Each image is read and checked here, once; the units' readers are made from these bytes.
struct CheckedImages {
    ImageBytes application;
    ImageBytes flash;
};

bool readImages(const UpdateCommandOptions& update, const GlobalOptions& options, CheckedImages& images,
                std::string& error) {
    if (update.noFirmware && update.noUi) {
        error = "nothing to update: --no-firmware and --no-ui leave nothing to send";
        return false;
    }
    if (!update.noFirmware) {
        HexCheckResult result;
        if (!readApplicationImage(update.images, images.application, result, error)) return false;
        if (options.verbose && !options.json) {
            std::fprintf(stderr, "%s: %u records, %u with data, %llu data bytes\n", images.application.name().c_str(),
                         result.records, result.dataRecords, static_cast<unsigned long long>(result.dataBytes));
        }
    }
    return update.noUi || readFlashImage(update.images, images.flash, error);
}

// The warning the main window shows before an update; without a terminal only --yes counts.
int confirmUpdate(const UpdateCommandOptions& update, size_t units) {
    if (update.yes) return kExitSuccess;
    if (!platform::isTerminal(platform::ConsoleStream::kInput)) {
        std::fprintf(stderr, "ztupdate: standard input is not a terminal; add --yes to confirm the update\n");
        return kExitUsage;
    }
    std::fprintf(stderr, "%s\nUpdate %zu unit%s now? [y/N] ",
                 platform::toUtf8(updaterProperties.getOrEmpty(L"update-warning")).c_str(), units,
                 units == 1 ? "" : "s");
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "y" || answer == "Y" || answer == "yes") return kExitSuccess;
    std::fprintf(stderr, "Update cancelled; nothing was sent.\n");
    return kExitFailed;
}

ProgressDisplay::Mode displayMode(const GlobalOptions& options) {
    if (options.json || options.quiet) return ProgressDisplay::Mode::kSilent;
    return platform::isTerminal(platform::ConsoleStream::kOutput) ? ProgressDisplay::Mode::kBars
                                                                 : ProgressDisplay::Mode::kLines;
}

void setOptions(UpdateOptions& options, const UpdateCommandOptions& update) {
    options.overwriteServerFirmware = update.noFirmware ? 0 : 1;
    options.overwriteServerUi = update.noUi ? 0 : 1;
    options.overwriteFactoryDefaults = update.factoryDefaults ? 1 : 0;
}

}  // namespace

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update) {
    std::vector<UnitTarget> targets;
    std::string error;
    CheckedImages images;
    if (!collectTargets(options, targets, error) || !readImages(update, options, images, error)) {
        std::fprintf(stderr, "ztupdate: %s\n", error.c_str());
        return kExitUsage;
    }
    if (const int confirmed = confirmUpdate(update, targets.size()); confirmed != kExitSuccess) return confirmed;

    UpdateOptions stages;
    setOptions(stages, update);
    const wchar_t* firmwareVersion = unitProperties.getOrEmpty(L"server-fw-version");
    auto runs = makeRuns(targets);
    std::vector<std::string> labels;
    for (const UnitTarget& t : targets) labels.push_back(t.label);
    ProgressDisplay display(displayMode(options), labels);

    runUnitsInParallel(
        runs,
        [&](UnitRun& run) -> uint32_t {
            CHexManager application;
            CBinManager flash(kFlashImageOrigin);
            if ((!update.noFirmware && !loadApplicationCopy(images.application, application)) ||
                (!update.noUi && !loadFlashCopy(images.flash, flash))) {
                return WMU_UPDATE_FAILED;
            }
            BootloaderEngine engine;
            UpdateJob job{engine, application, flash, stages, &run.window, firmwareVersion};
            return runUpdate(job, bootloaderTransport(run.target));
        },
        [&](size_t unit, const platform::WindowMessage& message) {
            display.onMessage(unit, message);
            if (isTerminalMessage(message.id)) display.onFinished(unit, outcomeOf("", message.id, 0).result);
        },
        [&] { display.refresh(); });

    std::vector<RunOutcome> outcomes;
    for (const auto& run : runs) outcomes.push_back(outcomeOf(run->target.label, run->terminal, run->seconds()));
    if (options.json) {
        printJsonDocument(outcomesDocument(outcomes));
    } else {
        printOutcomeLines(outcomes);
        if (outcomes.size() > 1) printSummaryTable(outcomes);
    }
    return overallStatus(outcomes);
}
