// Checks the inputs, asks for confirmation, then runs one engine, transport and pair of image
// readers per unit in parallel, and reports one result per unit.
#include "cli/update_command.h"

#include <string>

#include "cli/exit_status.h"
#include "commandport/command_port.h"
#include "platform/console.h"
#include "ui/worker_messages.h"

namespace {

// The command port answers while the bootloader does not: the unit runs its application.
bool commandPortAnswers(const UnitTarget& target) {
    return probeCommandPort(target.unit, kCommandPortTimeoutMs, [](Transport&, const char*) {});
}

// A unit whose firmware is not older is left as it was found, in bootload mode.
RunOutcome skippedOutcome(const UnitRun& run, const std::string& skip, const std::string& why) {
    return {run.target.label, skip, why + "; the unit stays in bootload mode", run.seconds(), kExitSuccess, {}};
}

struct VersionCheck {
    std::string skip;
    std::string why;
};

// The version is asked whenever firmware is written (for the rule) or a log wants it.
VersionCheck checkVersion(const UnitRun& run, SharedUpdate& shared) {
    if (!shared.carried && !shared.log.active()) return {};
    const UnitStatus before = probeBootloader(run.target);
    logStatus(shared.log, run.target.label, "before the update", before);
    const std::string skip = versionSkip(shared, before);
    return {skip, skip.empty() ? "" : versionSkipText(skip, before, shared)};
}

RunOutcome updateOutcome(const UnitRun& run, const ProgressDisplay& display, size_t unit, const VersionCheck& check) {
    if (run.attempts == 0) return notStartedOutcome(run.target.label);
    if (!check.skip.empty()) return skippedOutcome(run, check.skip, check.why);
    RunOutcome outcome = outcomeOf(run.target.label, run.terminal, run.seconds());
    if (run.hasCounts) outcome.counts = run.counts;
    if (run.stopped) {
        outcome.result = "stopped";
        outcome.message = stoppedWhere(display, unit) + "; the unit stays in bootload mode; run update again";
        outcome.exitStatus = kExitFailed;
    } else if (run.repliesInDoubt) {
        outcome.result = "replies_in_doubt";
        outcome.message = kRepliesInDoubtMessage;
        outcome.exitStatus = kExitFailed;
    } else if (run.runsApplication) {
        outcome.result = "application_running";
        outcome.message = "the unit runs its application, not its bootloader: run `ztupdate " +
                          std::string(run.target.unit.isSerial() ? "--serial " : "--ip ") + run.target.label +
                          " enter-bootload` first";
        outcome.exitStatus = kExitFailed;
    }
    return outcome;
}

}  // namespace

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update) {
    std::vector<UnitTarget> targets;
    std::string error;
    UnitLocks locks;
    CheckedImages images;
    RunLog log;
    if (!readUpdateInputs(options, update, targets, locks, images, log, error)) return reportUsageError(error);
    parserPort = options.parserPort;
    if (const int confirmed = confirmUpdate(update, targets, options.jobs); confirmed != kExitSuccess) return confirmed;

    SharedUpdate shared(update, images, log);
    auto runs = makeRuns(targets);
    std::vector<VersionCheck> checks(runs.size());
    const std::vector<std::string> labels = targetLabels(targets);
    ProgressDisplay display(displayMode(options), labels);
    setDisplayPlans(display, update, images, targets);
    StageLog stageLog(log, labels);

    RunnerHooks hooks;
    hooks.onMessage = [&](size_t unit, const platform::WindowMessage& message) {
        const std::string before = display.stage(unit);
        display.onMessage(unit, message);
        stageLog.onMessage(unit, before, display, message.id);
        if (isTerminalMessage(message.id)) display.onFinished(unit, outcomeOf("", message.id, 0).result);
    };
    hooks.idle = [&] { refreshOrStop(shared, display); };
    hooks.onFinished = [&](size_t unit) {
        if (checks[unit].skip.empty()) return;
        log.line(labels[unit], checks[unit].skip + ": " + checks[unit].why);
        display.onFinished(unit, checks[unit].skip);
    };
    runUnits(
        runs,
        [&](UnitRun& run) -> uint32_t {
            VersionCheck& check = checks[indexOfRun(runs, run)];
            check = checkVersion(run, shared);
            if (!check.skip.empty()) return 0;
            const uint32_t terminal = updateUnit(run, shared);
            // Serial lines are left out: probing every rate of the command port takes seconds.
            if (terminal == WMU_NO_RESPONSE && !run.stopped && !run.target.unit.isSerial()) {
                run.runsApplication = commandPortAnswers(run.target);
            }
            return terminal;
        },
        hooks, options.jobs);

    std::vector<RunOutcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
        outcomes.push_back(updateOutcome(*runs[i], display, i, checks[i]));
        if (outcomes.back().counts)
            log.line(labels[i], outcomes.back().result + "; " + countsText(*outcomes.back().counts));
    }
    printOutcomes(outcomes, options.json);
    if (!options.json) suggestFastResend(outcomes, update);
    const int status = closeRunLog(log, overallStatus(outcomes));
    if (platform::interruptSignal() != 0) return kExitInterrupted + platform::interruptSignal();
    return status;
}
