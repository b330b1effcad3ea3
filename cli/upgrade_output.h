// What `upgrade` reports: each unit's record of its attempts, the JSON document, the text lines
// and the --report file.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "cli/global_options.h"
#include "cli/run_outcome.h"
#include "cli/unit_runner.h"
#include "cli/update_run.h"
#include "cli/upgrade_command.h"

// Where one unit's attempt ended, written by its thread before it finishes.
struct UpgradeRecord {
    std::string step;
    // Upgraded unless a step ends the attempt otherwise.
    RunResult result = RunResult::kUpgraded;
    std::string message;
    int exitStatus = kExitSuccess;
    // This attempt put the unit into bootload mode from its application.
    bool enteredBootload = false;
    std::optional<std::string> bootloader;
    std::optional<std::string> versionBefore;
    std::optional<std::string> versionAfter;
};

bool succeeded(const UpgradeRecord& record);
std::string firstLine(const std::string& text);

// A unit's result from its last attempt, or "not started" when it never had its turn.
RunOutcome outcomeOfRecord(const UnitRun& run, const UpgradeRecord& record);

// What the output is made of; everything lives as long as the run.
struct UpgradeRun {
    const GlobalOptions& options;
    const UpgradeCommandOptions& upgrade;
    const SharedUpdate& shared;
    // When the units' turn began.
    WallTime unitsStarted;
    const std::vector<std::unique_ptr<UnitRun>>& runs;
    // Each unit's last attempt, and all of its attempts in order.
    const std::vector<UpgradeRecord>& records;
    const std::vector<std::vector<UpgradeRecord>>& attempts;
};

nlohmann::json upgradeDocument(const UpgradeRun& run, const std::vector<RunOutcome>& outcomes);

// False, with a message, for a --report that cannot be written, is the --log file too, or is
// standard output while --json writes there. Nothing is written to it yet.
bool reportWritable(const GlobalOptions& options, const std::string& path, std::string& error);

// Writes the --report file when asked, then the JSON document or each unit's line (with the
// closing table for several units); returns the run's status, failed when the report was lost.
int printUpgradeResults(const UpgradeRun& run, const std::vector<RunOutcome>& outcomes);
