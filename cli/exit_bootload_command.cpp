// One exit run per unit in parallel, each on its own engine.
#include "cli/exit_bootload_command.h"

#include "bootloader/update_sequence.h"
#include "cli/exit_status.h"
#include "commandport/command_port.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "transport/transport_factory.h"
#include "ui/worker_messages.h"

namespace {

// A silent bootloader beside an answering command port: the unit runs its application, which is
// where exit-bootload would take it. Serial lines are left out: probing every rate takes seconds.
bool runsApplication(const CommandPortTarget& target, uint32_t terminal) {
    return terminal == WMU_NO_RESPONSE && !target.unit.isSerial() &&
           probeCommandPort(target, kCommandPortTimeoutMs, [](Transport&, const char*) {});
}

RunOutcome exitOutcome(const UnitRun& run) {
    if (run.attempts == 0) return notStartedOutcome(run.target.label);
    RunOutcome outcome = outcomeOf(run.target.label, run.terminal, run.seconds());
    outcome.counts = run.counts;
    if (run.runsApplication) {
        outcome.result = RunResult::kNothingToLeave;
        outcome.message =
            "the unit runs its application (its command port answers, its bootloader does not): there is no "
            "bootload mode to leave";
        outcome.exitStatus = kExitSuccess;
    }
    return outcome;
}

}  // namespace

int runExitBootloadCommand(const GlobalOptions& options) {
    std::vector<UnitTarget> targets;
    std::string error;
    if (!prepareTargets(options, targets, error)) return reportUsageError(error);
    auto runs = makeRuns(targets);
    runUnitsInParallel(
        runs,
        [&options](UnitRun& run) -> uint32_t {
            BootloaderEngine engine;
            const uint32_t terminal = runExitBootload(engine, &run.window, makeBootloaderTransport(run.target.unit));
            run.counts = engine.counters();
            run.hasCounts = true;
            run.runsApplication = runsApplication({run.target.unit, options.parserPort}, terminal);
            return terminal;
        },
        [](size_t, const platform::WindowMessage&) {}, nullptr, options.jobs);

    std::vector<RunOutcome> outcomes;
    for (const auto& run : runs) outcomes.push_back(exitOutcome(*run));
    printOutcomes(outcomes, options.json);
    return overallStatus(outcomes);
}

CliCommand addExitBootloadCommand(CLI::App& app) {
    return {addSubcommand(app, "exit-bootload", kExitBootloadHelp), CommandNeeds::kNetwork, runExitBootloadCommand};
}
