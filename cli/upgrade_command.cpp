// Each unit's upgrade on its own thread, built from the other commands' pieces: the status
// probe, the unlock, the update, the exit run and the command-port probe.
#include "cli/upgrade_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/exit_status.h"
#include "cli/pin_source.h"
#include "cli/restart_wait.h"
#include "cli/status_command.h"
#include "cli/upgrade_output.h"
#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "transport/transport_factory.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

namespace {

struct UpgradeContext {
    const UpgradeCommandOptions& upgrade;
    SharedUpdate& shared;
    std::optional<std::string> pin;
    std::string expectedVersion;
    uint32_t restartMs;
    uint32_t parserPort;
};

void postStep(UnitRun& run, const wchar_t* text) { postStatus(&run.window, text, true); }

bool fail(UpgradeRecord& record, const char* step, RunResult result, std::string message, int exitStatus) {
    record.step = step;
    record.result = result;
    record.message = std::move(message);
    record.exitStatus = exitStatus;
    return false;
}

std::string noResponseText() { return platform::toUtf8(updaterProperties.getOrEmpty(L"error-message.NoResponse")); }

bool stopping(const UpgradeContext& context) { return context.shared.stopRequested.load(); }

std::string secondsText(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

// The command port answers once the unit runs its application again.
Waited awaitApplication(const UnitTarget& target, const UpgradeContext& context) {
    return awaitAnswer(
        platform::tickCount(), context.restartMs, [&] { return stopping(context); },
        [&](uint32_t leftMs) {
            return probeCommandPortWithin({target.unit, context.parserPort}, leftMs, [](Transport&, const char*) {});
        });
}

void addCounts(EngineCounters& into, const EngineCounters& more) {
    into.requests += more.requests;
    into.resends += more.resends;
    into.timeouts += more.timeouts;
    into.staleFrames += more.staleFrames;
}

bool stoppedAt(UpgradeRecord& record, const char* step, const char* state) {
    return fail(record, step, RunResult::kStopped, std::string("stopped; ") + state + "; run upgrade again",
                kExitFailed);
}

// After the wait, the command port tells a unit that never left its application (or came back
// to it) from one that went quiet.
std::string silentBootloaderText(const UnitTarget& target, const UpgradeContext& context, const Waited& waited) {
    const std::string silence = "the bootloader did not answer within " + secondsText(waited.ms) + " and ";
    if (probeCommandPort({target.unit, context.parserPort}, kCommandPortTimeoutMs, [](Transport&, const char*) {})) {
        return "the unit did not restart into bootload mode: " + silence +
               "its command port answers, so it still runs its application";
    }
    return "the unit was told to restart into bootload mode, but " + silence + "its command port is silent too";
}

bool enterBootloadMode(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    if (!context.pin) {
        return fail(record, "enter_bootload", RunResult::kNoPin,
                    "the unit runs its application and no PIN was given: use --pin-file FILE or ZT_PIN", kExitUsage);
    }
    postStep(run, L"Entering bootload mode");
    switch (enterBootload({run.target.unit, context.parserPort}, context.pin->c_str())) {
        case EnterBootloadResult::kEnabled: break;
        case EnterBootloadResult::kUnlockFailed:
            return fail(record, "enter_bootload", RunResult::kPinRefused, refusedPinText(), kExitFailed);
        case EnterBootloadResult::kUnitNotFound:
            return fail(record, "enter_bootload", RunResult::kNoResponse, noResponseText(), kExitNoResponse);
    }
    postStep(run, L"Waiting for the bootloader");
    // The bootloader is asked until it answers, instead of a fixed wait after the unlock.
    const Waited waited =
        awaitBootloader(run.target.unit, platform::tickCount(), context.restartMs, [&] { return stopping(context); });
    if (waited.answered) return true;
    if (stopping(context)) return stoppedAt(record, "wait_bootloader", "the unit is restarting into bootload mode");
    return fail(record, "wait_bootloader", RunResult::kBootloaderSilent,
                silentBootloaderText(run.target, context, waited), kExitNoResponse);
}

bool leaveBootloadMode(UnitRun& run, UpgradeContext& context, UpgradeRecord& record, LeaveScope scope) {
    postStep(run, L"Leaving bootload mode");
    BootloaderEngine engine;
    const uint32_t terminal = runExitBootload(engine, &run.window, makeBootloaderTransport(run.target.unit), scope);
    addCounts(run.counts, engine.counters());
    if (terminal != WMU_BOOTLOAD_EXITED) {
        const RunOutcome outcome = outcomeOf(run.target.label, terminal, 0);
        return fail(record, "exit_bootload", outcome.result, outcome.message, outcome.exitStatus);
    }
    postStep(run, L"Waiting for the application");
    const Waited waited = awaitApplication(run.target, context);
    if (waited.answered) return true;
    if (stopping(context)) {
        return fail(record, "wait_application", RunResult::kStopped,
                    "the unit was told to leave bootload mode; only its return was not awaited", kExitFailed);
    }
    return fail(record, "wait_application", RunResult::kDidNotReturn,
                "the unit left bootload mode but its command port did not answer within " + secondsText(waited.ms) +
                    ": check that it runs its application",
                kExitNoResponse);
}

std::string returnToApplication(UnitRun& run, UpgradeContext& context, const UpgradeRecord& record) {
    UpgradeRecord leaving = record;
    if (leaveBootloadMode(run, context, leaving, LeaveScope::kAnyVersion)) {
        return "it left bootload mode again and runs its application";
    }
    if (leaving.step != "exit_bootload") return leaving.message;
    return "leaving bootload mode failed (" + firstLine(leaving.message) + "): the unit is still in bootload mode";
}

// The bootloader's identification was refused before anything was erased. A unit this run took
// out of its application goes back to it (unless told to stay); the message says where it is.
bool refusedUnchanged(UnitRun& run, UpgradeContext& context, UpgradeRecord& record, const RunOutcome& cause) {
    std::string where = "the unit stays in bootload mode";
    if (record.enteredBootload && !context.upgrade.stayInBootload) where = returnToApplication(run, context, record);
    return fail(record, "update", cause.result, firstLine(cause.message) + " Nothing was written; " + where,
                cause.exitStatus);
}

bool updateAndVerify(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    const uint32_t terminal = updateUnit(run, context.shared);
    if (run.stopped) return stoppedAt(record, "update", "the unit stays in bootload mode");
    if (run.repliesInDoubt)
        return fail(record, "update", RunResult::kRepliesInDoubt, kRepliesInDoubtMessage, kExitFailed);
    if (terminal != WMU_UPDATE_DONE) {
        const RunOutcome outcome = outcomeOf(run.target.label, terminal, 0);
        if (terminal == WMU_WRONG_RESPONSE) return refusedUnchanged(run, context, record, outcome);
        return fail(record, "update", outcome.result, outcome.message, outcome.exitStatus);
    }
    if (context.upgrade.update.noFirmware) {
        record.versionAfter = record.versionBefore;
        return true;
    }
    postStep(run, L"Reading the version back");
    const UnitStatus after = probeStatus(run.target);
    logStatus(context.shared.log, run.target.label, "after the update", after);
    record.versionAfter = after.application;
    if (after.application == context.expectedVersion) return true;
    return fail(record, "verify", RunResult::kVersionMismatch,
                "the unit reports application version " + after.application.value_or("(none)") + " after " +
                    context.expectedVersion + " was written; it stays in bootload mode",
                kExitFailed);
}

std::string updateDoneText(const UpgradeContext& context) {
    return context.upgrade.update.noFirmware ? "the update is complete" : "the update is complete and verified";
}

// A unit whose firmware is not older is left where it was found: one this run took out of its
// application goes back to it (unless told to stay), so a second run over a venue changes nothing.
bool leaveUnchanged(UnitRun& run, UpgradeContext& context, UpgradeRecord& record, RunResult skip,
                    const std::string& why) {
    record.versionAfter = record.versionBefore;
    if (!record.enteredBootload || context.upgrade.stayInBootload) {
        record.result = skip;
        record.message = why + "; the unit stays in bootload mode";
        return true;
    }
    if (!leaveBootloadMode(run, context, record, LeaveScope::kAnyVersion)) {
        record.message = why + ", but " + record.message;
        return false;
    }
    record.result = skip;
    record.message = why + "; it left bootload mode again and runs its application";
    return true;
}

bool upgradeSteps(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    postStep(run, L"Asking its state");
    UnitStatus before = probeStatus(run.target);
    logStatus(context.shared.log, run.target.label, "before", before);
    if (stopping(context)) return stoppedAt(record, "status", "the unit was not changed");
    if (!before.bootloader) {
        if (!before.bootloadMode)
            return fail(record, "status", RunResult::kNoResponse, noResponseText(), kExitNoResponse);
        if (!enterBootloadMode(run, context, record)) return false;
        record.enteredBootload = true;
        before = probeStatus(run.target);
        logStatus(context.shared.log, run.target.label, "in bootload mode", before);
    }
    record.bootloader = before.bootloader;
    record.versionBefore = before.application;
    if (const std::optional<RunResult> skip = versionSkip(context.shared, before))
        return leaveUnchanged(run, context, record, *skip, versionSkipText(*skip, before, context.shared));
    if (!updateAndVerify(run, context, record)) return false;
    if (context.upgrade.stayInBootload) {
        record.message = "upgraded; the unit stays in bootload mode (--stay-in-bootload)";
        return true;
    }
    if (!leaveBootloadMode(run, context, record, LeaveScope::kUpdatable)) {
        if (record.result == RunResult::kStopped)
            record.message = "stopped; " + updateDoneText(context) + "; " + record.message;
        return false;
    }
    record.message = "upgraded; the unit runs its application";
    return true;
}

uint32_t upgradeUnit(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    record = UpgradeRecord{};
    run.counts = {};
    run.hasCounts = false;
    run.stopped = false;
    run.repliesInDoubt = false;
    upgradeSteps(run, context, record);
    return 0;
}

std::string expectedVersion(const wchar_t* firmwareVersion) {
    uint8_t minor = 0;
    uint8_t major = 0;
    parseFirmwareVersion(firmwareVersion, minor, major);
    return std::to_string(major) + "." + std::to_string(minor);
}

// The PIN is asked once for all units; without any source, units in application mode fail alone.
bool choosePin(const UpgradeCommandOptions& upgrade, std::optional<std::string>& pin, std::string& error) {
    if (upgrade.pinFile.empty() && !std::getenv("ZT_PIN") && !platform::isTerminal(platform::ConsoleStream::kInput)) {
        return true;
    }
    std::string typed;
    if (!readInstallerPin(upgrade.pinFile, typed, error)) return false;
    pin = typed;
    return true;
}

// A stop during the update is worded from the display, which saw how far the stage came.
void finishRecord(UpgradeRecord& record, const ProgressDisplay& display, size_t unit) {
    if (record.result == RunResult::kStopped && record.step == "update") {
        record.message = stoppedWhere(display, unit) + "; the unit stays in bootload mode; run upgrade again";
    }
}

}  // namespace

int runUpgradeCommand(const GlobalOptions& options, const UpgradeCommandOptions& upgrade) {
    UpdateInputs inputs;
    std::string error;
    if (!readUpdateInputs(options, upgrade.update, inputs, error) ||
        !reportWritable(options, upgrade.reportFile, error))
        return reportUsageError(error);
    if (const int confirmed = confirmUpdate(upgrade.update, inputs.targets, options.jobs); confirmed != kExitSuccess)
        return confirmed;
    RunLog& log = inputs.log;
    SharedUpdate shared(upgrade.update, inputs.images, log);
    UpgradeContext context{.upgrade = upgrade,
                           .shared = shared,
                           .pin = std::nullopt,
                           .expectedVersion = expectedVersion(shared.firmwareVersion),
                           .restartMs = upgrade.restartSeconds * 1000,
                           .parserPort = options.parserPort};
    if (!choosePin(upgrade, context.pin, error)) {
        const int usage = reportUsageError(error);
        return platform::interruptSignal() != 0 ? kExitInterrupted + platform::interruptSignal() : usage;
    }

    auto runs = makeRuns(inputs.targets);
    std::vector<UpgradeRecord> records(runs.size());
    std::vector<std::vector<UpgradeRecord>> attempts(runs.size());
    UpdateProgress progress(options, upgrade.update, inputs);
    ProgressDisplay& display = progress.display;
    const std::vector<std::string>& labels = progress.labels;

    RunnerHooks hooks;
    hooks.onMessage = [&](size_t unit, const platform::WindowMessage& message) { progress.onMessage(unit, message); };
    hooks.idle = [&] { refreshOrStop(shared, display); };
    hooks.onFinished = [&](size_t unit) {
        UpgradeRecord& record = records[unit];
        finishRecord(record, display, unit);
        attempts[unit].push_back(record);
        const std::string where = succeeded(record) ? ": " : " at " + record.step + ": ";
        log.line(labels[unit],
                 jsonName(record.result) + (record.result == RunResult::kUpgraded ? "" : where + record.message));
        display.onFinished(unit, record.result);
    };
    hooks.again = [&](size_t unit) {
        if (runs[unit]->attempts > upgrade.retries || !mayRetry(records[unit].result)) return false;
        log.line(labels[unit],
                 "tried again after the others (attempt " + std::to_string(runs[unit]->attempts + 1) + ")");
        display.onRetry(unit);
        return true;
    };
    const WallTime unitsStarted = std::chrono::system_clock::now();
    runUnits(
        runs, [&](UnitRun& run) -> uint32_t { return upgradeUnit(run, context, records[run.index]); }, hooks,
        options.jobs);
    display.finish();

    std::vector<RunOutcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
        outcomes.push_back(outcomeOfRecord(*runs[i], records[i]));
        if (outcomes.back().counts) log.line(labels[i], countsText(*outcomes.back().counts));
    }
    int status = printUpgradeResults({options, upgrade, shared, unitsStarted, runs, records, attempts}, outcomes);
    status = closeRunLog(log, status);
    if (platform::interruptSignal() != 0) return kExitInterrupted + platform::interruptSignal();
    return status;
}

CliCommand addUpgradeCommand(CLI::App& app) {
    auto upgradeOptions = std::make_shared<UpgradeCommandOptions>();
    CLI::App* upgrade = addSubcommand(app, "upgrade", kUpgradeHelp);
    addUpdateOptions(upgrade, upgradeOptions->update);
    upgrade->add_option("--pin-file", upgradeOptions->pinFile, "file whose first line is the Installer PIN")
        ->type_name("FILE");
    upgrade->add_flag("--stay-in-bootload", upgradeOptions->stayInBootload,
                      "leave each unit in bootload mode after its update");
    upgrade
        ->add_option("--retry", upgradeOptions->retries,
                     "try a failed unit again up to N times, after the others had their turn (default 0)")
        ->check(CLI::Range(0, 10))
        ->type_name("N");
    upgrade
        ->add_option("--restart-seconds", upgradeOptions->restartSeconds,
                     "how long a unit may take to restart into its bootloader or its application (default 60)")
        ->check(CLI::Range(1, 600))
        ->type_name("N");
    upgrade->add_option("--report", upgradeOptions->reportFile, "also write the JSON result to FILE")
        ->type_name("FILE");
    return {upgrade, CommandNeeds::kNetwork,
            [upgradeOptions](const GlobalOptions& options) { return runUpgradeCommand(options, *upgradeOptions); }};
}
