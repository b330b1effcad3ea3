// Checks the inputs, asks for confirmation, then runs one engine, transport and pair of image
// readers per unit in parallel, and reports one result per unit.
#include "cli/update_command.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>

#include "bootloader/update_sequence.h"
#include "cli/exit_status.h"
#include "cli/inspect_command.h"
#include "cli/json_output.h"
#include "cli/progress_display.h"
#include "cli/run_log.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "ui/worker_messages.h"

namespace {

// Framing, command, sequence number and CRC of a request, and its reply, on a serial line.
constexpr double kRequestOverheadBytes = 9 + 10;
// A chunk request: address, length and 64 bytes of data, with the same framing.
constexpr double kChunkRequestBytes = 72 + kRequestOverheadBytes;

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
    if (platform::interruptSignal() != 0) {
        std::fprintf(stderr, "\nUpdate cancelled; nothing was sent.\n");
        return kExitInterrupted + platform::interruptSignal();
    }
    if (isYes(answer)) return kExitSuccess;
    std::fprintf(stderr, "Update cancelled; nothing was sent.\n");
    return kExitFailed;
}

// The command port answers while the bootloader does not: the unit runs its application.
bool commandPortAnswers(const UnitTarget& target) {
    auto connection = bootloaderTransport(target);
    return probeCommandPort(*connection, kCommandPortTimeoutMs, [](Transport&, const char*) {});
}

RunOutcome updateOutcome(const UnitRun& run, const ProgressDisplay& display, size_t unit) {
    RunOutcome outcome = outcomeOf(run.target.label, run.terminal, run.seconds());
    if (run.hasCounts) outcome.counts = run.counts;
    if (run.stopped) {
        outcome.result = "stopped";
        outcome.message = "stopped during " + (display.stage(unit).empty() ? std::string("Initializing") : display.stage(unit)) +
                          " at " + std::to_string(display.percent(unit)) +
                          " %; the unit stays in bootload mode; run update again";
        outcome.exitStatus = kExitFailed;
    } else if (run.runsApplication) {
        outcome.result = "application_running";
        outcome.message = "the unit runs its application, not its bootloader: run `ztupdate " +
                          std::string(run.target.serial ? "--serial " : "--ip ") + run.target.label +
                          " enter-bootload` first";
        outcome.exitStatus = kExitFailed;
    }
    return outcome;
}

std::string stageLine(const std::string& stage, uint32_t startTick, uint32_t nowTick) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", platform::ticksBetween(startTick, nowTick) / 1000.0);
    return stage + " took " + seconds + " s";
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

// The requests each stage sends, counted the way inspect counts them, for the time left.
UnitPlan planOf(const UpdateCommandOptions& update, const CheckedImages& images) {
    CHexManager application;
    if (!update.noFirmware) loadApplicationCopy(images.application, application);
    const TransferPlan transfer = planTransfer(application, update.noUi ? 0 : static_cast<uint32_t>(images.flash.size()));
    UnitPlan plan;
    plan.programRequests = transfer.programRequests;
    plan.flashChunks = transfer.flashChunks;
    if (transfer.programRequests > 0) {
        plan.programRequestBytes =
            static_cast<double>(application.recordBytes()) / transfer.programRequests + kRequestOverheadBytes;
    }
    plan.chunkRequestBytes = kChunkRequestBytes;
    return plan;
}

}  // namespace

bool isYes(const std::string& answer) {
    std::string lower;
    for (char c : answer) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "y" || lower == "yes";
}

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update) {
    std::vector<UnitTarget> targets;
    std::string error;
    CheckedImages images;
    RunLog log;
    if (!prepareTargets(options, targets, error) || !readImages(update, options, images, error) ||
        !log.open(options.verbose && !options.json, options.logFile, error)) {
        std::fprintf(stderr, "ztupdate: %s\n", error.c_str());
        return kExitUsage;
    }
    parserPort = options.parserPort;
    if (const int confirmed = confirmUpdate(update, targets.size()); confirmed != kExitSuccess) return confirmed;

    UpdateOptions stages;
    setOptions(stages, update);
    const wchar_t* firmwareVersion = unitProperties.getOrEmpty(L"server-fw-version");
    auto runs = makeRuns(targets);
    std::vector<std::string> labels;
    for (const UnitTarget& t : targets) labels.push_back(t.label);
    ProgressDisplay display(displayMode(options), labels);
    const UnitPlan plan = planOf(update, images);
    for (size_t i = 0; i < targets.size(); ++i) {
        UnitPlan unitPlan = plan;
        unitPlan.serial = targets[i].serial;
        display.setPlan(i, unitPlan);
    }
    std::atomic<bool> stopRequested{false};
    std::vector<uint32_t> stageTicks(runs.size(), platform::tickCount());

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
            UnitLogObserver observer(log, run.target.label);
            if (log.active()) engine.setObserver(&observer);
            UpdateJob job{engine, application, flash, stages, &run.window, firmwareVersion};
            job.stopRequested = &stopRequested;
            const uint32_t terminal = runUpdate(job, bootloaderTransport(run.target));
            run.counts = engine.counters();
            run.hasCounts = true;
            run.stopped = job.stopped;
            // Serial lines are left out: probing every rate of the command port takes seconds.
            if (terminal == WMU_NO_RESPONSE && !job.stopped && !run.target.serial) {
                run.runsApplication = commandPortAnswers(run.target);
            }
            return terminal;
        },
        [&](size_t unit, const platform::WindowMessage& message) {
            const std::string before = display.stage(unit);
            display.onMessage(unit, message);
            const uint32_t now = platform::tickCount();
            if (message.id == WMU_STATUS_TEXT && log.active()) {
                if (!before.empty()) log.line(labels[unit], stageLine(before, stageTicks[unit], now));
                log.line(labels[unit], display.stage(unit) + " started");
                stageTicks[unit] = now;
            }
            if (isTerminalMessage(message.id)) {
                if (log.active() && !before.empty()) log.line(labels[unit], stageLine(before, stageTicks[unit], now));
                display.onFinished(unit, outcomeOf("", message.id, 0).result);
            }
        },
        [&] {
            if (platform::interruptSignal() != 0 && !stopRequested.exchange(true)) {
                display.stopDrawing();
                std::fprintf(stderr, "Stopping each unit at its next request (interrupt again to end at once)...\n");
            }
            display.refresh();
        });

    std::vector<RunOutcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
        outcomes.push_back(updateOutcome(*runs[i], display, i));
        if (outcomes.back().counts) log.line(labels[i], outcomes.back().result + "; " + countsText(*outcomes.back().counts));
    }
    if (options.json) {
        printJsonDocument(outcomesDocument(outcomes));
    } else {
        printOutcomeLines(outcomes);
        if (outcomes.size() > 1) printSummaryTable(outcomes);
    }
    if (platform::interruptSignal() != 0) return kExitInterrupted + platform::interruptSignal();
    return overallStatus(outcomes);
}
