// Checks the inputs, asks for confirmation, then runs one engine, transport and pair of image
// readers per unit in parallel, and reports one result per unit.
#include "cli/update_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include <string>

#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "commandport/command_port.h"
#include "platform/console.h"
#include "ui/worker_messages.h"

namespace {

// The command port answers while the bootloader does not: the unit runs its application.
bool commandPortAnswers(const CommandPortTarget& target) {
    return probeCommandPort(target, kCommandPortTimeoutMs, [](Transport&, const char*) {});
}

// A unit whose firmware is not older is left as it was found, in bootload mode.
RunOutcome skippedOutcome(const UnitRun& run, RunResult skip, const std::string& why) {
    return {run.target.label, skip, why + "; the unit stays in bootload mode", run.seconds(), kExitSuccess, {}};
}

struct VersionCheck {
    std::optional<RunResult> skip;
    std::string why;
    std::optional<std::string> before;
};

// Asked of every unit, for the record, and for the rule whenever firmware is written.
VersionCheck checkVersion(const UnitRun& run, SharedUpdate& shared) {
    const UnitStatus before = probeBootloader(run.target);
    logStatus(shared.log, run.target.label, "before the update", before);
    const std::optional<RunResult> skip = versionSkip(shared, before);
    return {skip, skip ? versionSkipText(*skip, before, shared) : "", before.application};
}

// What the unit holds after its run, where known without asking it again.
std::optional<std::string> versionAfter(const RunOutcome& outcome, const VersionCheck& check,
                                        const SharedUpdate& shared) {
    if (check.skip || (outcome.result == RunResult::kUpdated && !shared.carried)) return check.before;
    if (outcome.result == RunResult::kUpdated) return versionString(*shared.carried);
    return std::nullopt;
}

nlohmann::json updateDocument(const GlobalOptions& options, const SharedUpdate& shared,
                              const std::vector<RunOutcome>& outcomes, const std::vector<VersionCheck>& checks,
                              const std::vector<std::unique_ptr<UnitRun>>& runs, WallTime unitsStarted) {
    nlohmann::json document = outcomesDocument(outcomes);
    document["run"] = runJson(options, shared);
    for (size_t i = 0; i < outcomes.size(); ++i) {
        nlohmann::json& unit = document["units"][i];
        unit["version_before"] = orNull(checks[i].before);
        unit["version_after"] = orNull(versionAfter(outcomes[i], checks[i], shared));
        addUnitTimes(unit, unitsStarted, *runs[i]);
    }
    return document;
}

RunOutcome updateOutcome(const UnitRun& run, const ProgressDisplay& display, size_t unit, const VersionCheck& check) {
    if (run.attempts == 0) return notStartedOutcome(run.target.label);
    if (check.skip) return skippedOutcome(run, *check.skip, check.why);
    RunOutcome outcome = outcomeOf(run.target.label, run.terminal, run.seconds());
    if (run.hasCounts) outcome.counts = run.counts;
    if (run.stopped) {
        outcome.result = RunResult::kStopped;
        outcome.message = stoppedWhere(display, unit) + "; the unit stays in bootload mode; run update again";
        outcome.exitStatus = kExitFailed;
    } else if (run.repliesInDoubt) {
        outcome.result = RunResult::kRepliesInDoubt;
        outcome.message = kRepliesInDoubtMessage;
        outcome.exitStatus = kExitFailed;
    } else if (run.runsApplication) {
        outcome.result = RunResult::kApplicationRunning;
        outcome.message = "the unit runs its application, not its bootloader: run `ztupdate " +
                          std::string(run.target.unit.isSerial() ? "--serial " : "--ip ") + run.target.label +
                          " enter-bootload` first";
        outcome.exitStatus = kExitFailed;
    }
    return outcome;
}

}  // namespace

int runUpdateCommand(const GlobalOptions& options, const UpdateCommandOptions& update) {
    UpdateInputs inputs;
    std::string error;
    if (!readUpdateInputs(options, update, inputs, error)) return reportUsageError(error);
    if (const int confirmed = confirmUpdate(update, inputs.targets, options.jobs); confirmed != kExitSuccess)
        return confirmed;

    RunLog& log = inputs.log;
    SharedUpdate shared(update, inputs.images, log);
    auto runs = makeRuns(inputs.targets);
    std::vector<VersionCheck> checks(runs.size());
    UpdateProgress progress(options, update, inputs);
    ProgressDisplay& display = progress.display;
    const std::vector<std::string>& labels = progress.labels;

    RunnerHooks hooks;
    hooks.onMessage = [&](size_t unit, const platform::WindowMessage& message) {
        progress.onMessage(unit, message);
        if (isTerminalMessage(message.id)) display.onFinished(unit, outcomeOf("", message.id, 0).result);
    };
    hooks.idle = [&] { refreshOrStop(shared, display); };
    hooks.onFinished = [&](size_t unit) {
        if (!checks[unit].skip) return;
        log.line(labels[unit], std::string(jsonName(*checks[unit].skip)) + ": " + checks[unit].why);
        display.onFinished(unit, *checks[unit].skip);
    };
    const WallTime unitsStarted = std::chrono::system_clock::now();
    runUnits(
        runs,
        [&](UnitRun& run) -> uint32_t {
            VersionCheck& check = checks[run.index];
            check = checkVersion(run, shared);
            if (check.skip) return 0;
            const uint32_t terminal = updateUnit(run, shared);
            // Serial lines are left out: probing every rate of the command port takes seconds.
            if (terminal == WMU_NO_RESPONSE && !run.stopped && !run.target.unit.isSerial()) {
                run.runsApplication = commandPortAnswers({run.target.unit, options.parserPort});
            }
            return terminal;
        },
        hooks, options.jobs);
    display.finish();

    std::vector<RunOutcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
        outcomes.push_back(updateOutcome(*runs[i], display, i, checks[i]));
        if (outcomes.back().counts)
            log.line(labels[i],
                     std::string(jsonName(outcomes.back().result)) + "; " + countsText(*outcomes.back().counts));
    }
    if (options.json) {
        printJsonDocument(updateDocument(options, shared, outcomes, checks, runs, unitsStarted));
    } else {
        printOutcomes(outcomes, false);
        suggestFastResend(outcomes, update);
    }
    const int status = closeRunLog(log, overallStatus(outcomes));
    if (platform::interruptSignal() != 0) return kExitInterrupted + platform::interruptSignal();
    return status;
}

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

CliCommand addUpdateCommand(CLI::App& app) {
    auto choices = std::make_shared<UpdateCommandOptions>();
    CLI::App* update = addSubcommand(app, "update", kUpdateHelp);
    addUpdateOptions(update, *choices);
    return {update, CommandNeeds::kNetwork,
            [choices](const GlobalOptions& options) { return runUpdateCommand(options, *choices); }};
}
