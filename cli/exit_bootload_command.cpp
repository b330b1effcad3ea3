// One exit run per unit in parallel, each on its own engine.
#include "cli/exit_bootload_command.h"

#include "bootloader/update_sequence.h"
#include "cli/exit_status.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "transport/transport_factory.h"

int runExitBootloadCommand(const GlobalOptions& options) {
    std::vector<UnitTarget> targets;
    std::string error;
    if (!prepareTargets(options, targets, error)) return reportUsageError(error);
    auto runs = makeRuns(targets);
    runUnitsInParallel(
        runs,
        [](UnitRun& run) -> uint32_t {
            BootloaderEngine engine;
            const uint32_t terminal = runExitBootload(engine, &run.window, makeBootloaderTransport(run.target.unit));
            run.counts = engine.counters();
            run.hasCounts = true;
            return terminal;
        },
        [](size_t, const platform::WindowMessage&) {}, nullptr, options.jobs);

    std::vector<RunOutcome> outcomes;
    for (const auto& run : runs) {
        if (run->attempts == 0) {
            outcomes.push_back(notStartedOutcome(run->target.label));
            continue;
        }
        outcomes.push_back(outcomeOf(run->target.label, run->terminal, run->seconds()));
        outcomes.back().counts = run->counts;
    }
    printOutcomes(outcomes, options.json);
    return overallStatus(outcomes);
}
