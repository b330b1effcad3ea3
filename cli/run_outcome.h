// One unit's result of an update or exit-bootload run, as the GUI would report it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bootloader/bootloader_engine.h"
#include "cli/run_result.h"

struct RunOutcome {
    std::string target;
    RunResult result = RunResult::kFailed;
    // The text the main window would show for the run's terminal message.
    std::string message;
    double seconds = 0;
    int exitStatus = 0;
    // What the unit's engine met: in the JSON result and the closing table when known.
    std::optional<EngineCounters> counts;
};

// Fills result, message and exitStatus from a run's terminal message.
RunOutcome outcomeOf(const std::string& target, uint32_t terminal, double seconds);

// A unit whose turn never came: the run was interrupted while it waited.
RunOutcome notStartedOutcome(const std::string& target);

nlohmann::json outcomesDocument(const std::vector<RunOutcome>& outcomes);

// The worst exit status of all units (0 for none).
int overallStatus(const std::vector<RunOutcome>& outcomes);

// One line per unit: "192.0.2.10: The firmware updated successfully. (42.1 s)"; several-line
// property texts keep their later lines indented under the first.
void printOutcomeLines(const std::vector<RunOutcome>& outcomes);
// The closing table of a run on several units: unit, result, time, and the engine's counts.
void printSummaryTable(const std::vector<RunOutcome>& outcomes);
// The JSON document, or the lines and (for several units) the table.
void printOutcomes(const std::vector<RunOutcome>& outcomes, bool json);
