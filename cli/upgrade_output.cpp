// Upgrade's records turned into its document, its lines and its report file.
#include "cli/upgrade_output.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/json_output.h"
#include "cli/target_text.h"
#include "platform/files.h"

namespace {

std::string stepOf(const UpgradeRecord& record) {
    if (succeeded(record)) return "";
    return record.step.empty() ? "start" : record.step;
}

nlohmann::json attemptsJson(const std::vector<UpgradeRecord>& attempts) {
    nlohmann::json list = nlohmann::json::array();
    for (const UpgradeRecord& a : attempts) {
        const std::string step = stepOf(a);
        list.push_back({{"step", step.empty() ? nlohmann::json(nullptr) : nlohmann::json(step)},
                        {"result", jsonName(a.result)},
                        {"message", a.message}});
    }
    return list;
}

// A retried unit's result is followed by how its first attempt ended, which the later ones may hide.
void printFirstCause(const std::vector<UpgradeRecord>& attempts) {
    if (attempts.size() < 2) return;
    const UpgradeRecord& first = attempts.front();
    const std::string step = stepOf(first);
    std::printf("    attempt 1 of %zu: %s%s: %s\n", attempts.size(), jsonName(first.result),
                step.empty() ? "" : (" at " + step).c_str(), firstLine(first.message).c_str());
}

void printUpgradeLines(const UpgradeRun& run, const std::vector<RunOutcome>& outcomes) {
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const RunOutcome& o = outcomes[i];
        const UpgradeRecord& r = run.records[i];
        const std::string versions =
            "application " + r.versionBefore.value_or("?") + " -> " + r.versionAfter.value_or("?");
        if (o.result == RunResult::kNotStarted) {
            std::printf("%s: %s\n", o.target.c_str(), o.message.c_str());
        } else if (o.result == RunResult::kUpgraded) {
            std::printf("%s: %s, %s (%.1f s)\n", o.target.c_str(), o.message.c_str(), versions.c_str(), o.seconds);
        } else if (isVersionSkip(o.result)) {
            std::printf("%s: %s: %s (%.1f s)\n", o.target.c_str(), jsonName(o.result), o.message.c_str(), o.seconds);
        } else {
            std::printf("%s: %s at %s: %s (%.1f s)\n", o.target.c_str(), jsonName(o.result), stepOf(r).c_str(),
                        o.message.c_str(), o.seconds);
        }
        printFirstCause(run.attempts[i]);
    }
}

bool writeReport(const std::string& path, const nlohmann::json& document) {
    std::FILE* file = platform::openOutputFile(platform::argumentPath(path), platform::OutputFile::kDocument, true);
    if (!file) return false;
    const std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const bool written = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && written;
}

}  // namespace

bool succeeded(const UpgradeRecord& record) { return isSuccess(record.result); }

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

RunOutcome outcomeOfRecord(const UnitRun& run, const UpgradeRecord& record) {
    if (run.attempts == 0) return notStartedOutcome(run.target.label);
    RunOutcome outcome{run.target.label, record.result, record.message, run.seconds(), record.exitStatus, {}};
    if (run.hasCounts) outcome.counts = run.counts;
    return outcome;
}

nlohmann::json upgradeDocument(const UpgradeRun& run, const std::vector<RunOutcome>& outcomes) {
    const std::vector<UpgradeRecord>& records = run.records;
    const std::vector<std::unique_ptr<UnitRun>>& runs = run.runs;
    nlohmann::json document = outcomesDocument(outcomes);
    document["run"] = runJson(run.options, run.shared);
    for (size_t i = 0; i < records.size(); ++i) {
        nlohmann::json& unit = document["units"][i];
        unit["step"] =
            succeeded(records[i]) || runs[i]->attempts == 0 ? nlohmann::json(nullptr) : nlohmann::json(records[i].step);
        unit["bootloader"] = orNull(records[i].bootloader);
        unit["version_before"] = orNull(records[i].versionBefore);
        unit["version_after"] = orNull(records[i].versionAfter);
        unit["attempts"] = attemptsJson(run.attempts[i]);
        unit["started"] = std::round(runs[i]->startedAt * 1000) / 1000;
        unit["ended"] = std::round(runs[i]->endedAt * 1000) / 1000;
        addUnitTimes(unit, run.unitsStarted, *runs[i]);
    }
    return document;
}

bool reportWritable(const GlobalOptions& options, const std::string& path, std::string& error) {
    if (path.empty()) return true;
    const std::string report = "--report " + shownText(path, kShownWhole);
    // Appending writes nothing, so a report read by --units-from is still whole. A FIFO or
    // device is refused before it could block the open.
    std::string reason;
    std::FILE* file =
        platform::openOutputFile(platform::argumentPath(path), platform::OutputFile::kDocument, false, &reason);
    if (!file) {
        error = report + ": cannot be written: " + reason;
        return false;
    }
    std::fclose(file);
    std::error_code unknown;
    if (!options.logFile.empty() &&
        std::filesystem::equivalent(platform::argumentPath(options.logFile), platform::argumentPath(path), unknown)) {
        error = report + " is also the --log file: the report would replace the log; give each a file of its own";
        return false;
    }
    if (options.json && platform::isStandardOutput(platform::argumentPath(path))) {
        error = report + " is the standard output, where --json writes its document: give the report a file of its own";
        return false;
    }
    return true;
}

int printUpgradeResults(const UpgradeRun& run, const std::vector<RunOutcome>& outcomes) {
    const nlohmann::json document = upgradeDocument(run, outcomes);
    int status = overallStatus(outcomes);
    const std::string& reportFile = run.upgrade.reportFile;
    if (!reportFile.empty() && !writeReport(reportFile, document)) {
        std::fprintf(stderr, "ztupdate: --report %s: cannot be written\n", shownText(reportFile, kShownWhole).c_str());
        status = worseStatus(status, kExitFailed);
    }
    if (run.options.json) {
        printJsonDocument(document);
    } else {
        printUpgradeLines(run, outcomes);
        if (outcomes.size() > 1) printSummaryTable(outcomes);
        suggestFastResend(outcomes, run.upgrade.update);
    }
    return status;
}
