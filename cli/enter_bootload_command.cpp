// Finds each unit's command port, unlocks bootload mode, then waits as the dialog does for the
// unit to restart into its bootloader.
#include "cli/enter_bootload_command.h"

#include <cstdio>

#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/pin_source.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "ui/ui_strings.h"

namespace {

constexpr uint32_t kRestartWaitMs = 5000;

RunOutcome enterOutcome(const UnitRun& run) {
    switch (static_cast<EnterBootloadResult>(run.terminal)) {
        case EnterBootloadResult::kEnabled:
            return {run.target.label, "enabled",    platform::toUtf8(uiString(kBootloadModeEnabled)),
                    run.seconds(),    kExitSuccess, {}};
        case EnterBootloadResult::kUnlockFailed:
            return {run.target.label, "refused", refusedPinText(), run.seconds(), kExitFailed, {}};
        case EnterBootloadResult::kUnitNotFound: break;
    }
    return {
        run.target.label, "no_response",   platform::toUtf8(updaterProperties.getOrEmpty(L"error-message.NoResponse")),
        run.seconds(),    kExitNoResponse, {}};
}

}  // namespace

int runEnterBootloadCommand(const GlobalOptions& options, const std::string& pinFile) {
    std::vector<UnitTarget> targets;
    std::string error;
    std::string pin;
    if (!prepareTargets(options, targets, error) || !readInstallerPin(pinFile, pin, error))
        return reportUsageError(error);
    parserPort = options.parserPort;
    auto runs = makeRuns(targets);
    runUnitsInParallel(
        runs,
        [&pin](UnitRun& run) -> uint32_t { return static_cast<uint32_t>(enterBootload(run.target.unit, pin.c_str())); },
        [](size_t, const platform::WindowMessage&) {}, nullptr, options.jobs);

    std::vector<RunOutcome> outcomes;
    bool anyEnabled = false;
    for (const auto& run : runs) {
        outcomes.push_back(run->attempts == 0 ? notStartedOutcome(run->target.label) : enterOutcome(*run));
        anyEnabled = anyEnabled || outcomes.back().exitStatus == kExitSuccess;
    }
    if (!options.json) printOutcomeLines(outcomes);
    if (anyEnabled) {
        if (!options.json && !options.quiet) {
            std::printf("Waiting %u s for the unit to start its bootloader...\n", kRestartWaitMs / 1000);
            std::fflush(stdout);
        }
        platform::sleepMs(kRestartWaitMs);
    }
    if (options.json) printJsonDocument(outcomesDocument(outcomes));
    return overallStatus(outcomes);
}
