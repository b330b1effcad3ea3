// Finds each unit's command port, unlocks bootload mode, then waits until the unit's bootloader
// answers, at most as long as the dialog waits.
#include "cli/enter_bootload_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include <cstdio>

#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/pin_source.h"
#include "cli/restart_wait.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "ui/ui_strings.h"

namespace {

constexpr uint32_t kRestartWaitMs = 5000;

// A unit restarts in about a second, so the next command need not wait the dialog's whole 5 s.
bool bootloaderAnswersWithinWait(const UnitTarget& target, uint32_t startTick) {
    return awaitBootloader(target.unit, startTick, kRestartWaitMs, [] { return platform::interruptSignal() != 0; })
        .answered;
}

// One wait for all the units just unlocked; true when every bootloader answered.
bool awaitBootloaders(const std::vector<std::unique_ptr<UnitRun>>& runs, const std::vector<RunOutcome>& outcomes) {
    const uint32_t start = platform::tickCount();
    bool all = true;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (outcomes[i].exitStatus == kExitSuccess) all = bootloaderAnswersWithinWait(runs[i]->target, start) && all;
    }
    return all;
}

RunOutcome enterOutcome(const UnitRun& run) {
    switch (static_cast<EnterBootloadResult>(run.terminal)) {
        case EnterBootloadResult::kEnabled:
            return {run.target.label, RunResult::kEnabled, platform::toUtf8(uiString(kBootloadModeEnabled)),
                    run.seconds(),    kExitSuccess,        {}};
        case EnterBootloadResult::kUnlockFailed:
            return {run.target.label, RunResult::kRefused, refusedPinText(), run.seconds(), kExitFailed, {}};
        case EnterBootloadResult::kUnitNotFound: break;
    }
    return {run.target.label,
            RunResult::kNoResponse,
            platform::toUtf8(updaterProperties.getOrEmpty(L"error-message.NoResponse")),
            run.seconds(),
            kExitNoResponse,
            {}};
}

}  // namespace

int runEnterBootloadCommand(const GlobalOptions& options, const std::string& pinFile) {
    std::vector<UnitTarget> targets;
    std::string error;
    std::string pin;
    if (!prepareTargets(options, targets, error) || !readInstallerPin(pinFile, pin, error))
        return reportUsageError(error);
    auto runs = makeRuns(targets);
    runUnitsInParallel(
        runs,
        [&](UnitRun& run) -> uint32_t {
            return static_cast<uint32_t>(enterBootload({run.target.unit, options.parserPort}, pin.c_str()));
        },
        [](size_t, const platform::WindowMessage&) {}, nullptr, options.jobs);

    std::vector<RunOutcome> outcomes;
    bool anyEnabled = false;
    for (const auto& run : runs) {
        outcomes.push_back(run->attempts == 0 ? notStartedOutcome(run->target.label) : enterOutcome(*run));
        anyEnabled = anyEnabled || outcomes.back().exitStatus == kExitSuccess;
    }
    if (!options.json) printOutcomeLines(outcomes);
    if (anyEnabled) {
        const bool say = !options.json && !options.quiet;
        if (say) {
            std::printf("Waiting up to %u s for the bootloader to answer...\n", kRestartWaitMs / 1000);
            std::fflush(stdout);
        }
        const bool answered = awaitBootloaders(runs, outcomes);
        if (say)
            std::puts(answered ? "The bootloader answers."
                               : "The bootloader has not answered yet; status shows when it does.");
    }
    if (options.json) printJsonDocument(outcomesDocument(outcomes));
    return overallStatus(outcomes);
}

CliCommand addEnterBootloadCommand(CLI::App& app) {
    auto pinFile = std::make_shared<std::string>();
    CLI::App* enter = addSubcommand(app, "enter-bootload", kEnterBootloadHelp);
    enter->add_option("--pin-file", *pinFile, "file whose first line is the Installer PIN")->type_name("FILE");
    return {enter, CommandNeeds::kNetwork,
            [pinFile](const GlobalOptions& options) { return runEnterBootloadCommand(options, *pinFile); }};
}
