// Terminal messages turned into results, texts and exit statuses.
#include "cli/run_outcome.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "platform/console.h"
#include "platform/text.h"
#include "ui/run_result.h"
#include "ui/worker_messages.h"

namespace {

// Property texts may end with a line break; a report line should not.
std::string trimmedEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string indentedLines(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') out += "    ";
    }
    return out;
}

}  // namespace

RunOutcome outcomeOf(const std::string& target, uint32_t terminal, double seconds) {
    const std::string message = platform::toUtf8(runResultText(terminal).text);
    switch (terminal) {
        case WMU_UPDATE_DONE: return {target, RunResult::kUpdated, message, seconds, kExitSuccess, {}};
        case WMU_BOOTLOAD_EXITED: return {target, RunResult::kExited, message, seconds, kExitSuccess, {}};
        case WMU_WRONG_RESPONSE: return {target, RunResult::kWrongResponse, message, seconds, kExitFailed, {}};
        case WMU_NO_RESPONSE: return {target, RunResult::kNoResponse, message, seconds, kExitNoResponse, {}};
        default: return {target, RunResult::kFailed, message, seconds, kExitFailed, {}};
    }
}

RunOutcome notStartedOutcome(const std::string& target) {
    return {target,
            RunResult::kNotStarted,
            "not started: the run was interrupted before this unit's turn; the unit was not changed",
            0,
            kExitFailed,
            {}};
}

nlohmann::json outcomesDocument(const std::vector<RunOutcome>& outcomes) {
    nlohmann::json units = nlohmann::json::array();
    for (const RunOutcome& o : outcomes) {
        nlohmann::json unit = {{"target", o.target},
                               {"result", jsonName(o.result)},
                               {"message", o.message},
                               {"seconds", std::round(o.seconds * 1000) / 1000}};
        // Every key is always there: null where the unit's engine never ran.
        const auto count = [&](uint32_t EngineCounters::*field) {
            return o.counts ? nlohmann::json((*o.counts).*field) : nlohmann::json(nullptr);
        };
        unit["requests"] = count(&EngineCounters::requests);
        unit["resends"] = count(&EngineCounters::resends);
        unit["timeouts"] = count(&EngineCounters::timeouts);
        unit["stale_frames"] = count(&EngineCounters::staleFrames);
        units.push_back(unit);
    }
    return {{"units", units}};
}

int overallStatus(const std::vector<RunOutcome>& outcomes) {
    int status = kExitSuccess;
    for (const RunOutcome& o : outcomes) status = worseStatus(status, o.exitStatus);
    return status;
}

namespace {

// A line longer than the terminal is broken between words, its later lines indented, so that a
// terminal never breaks it mid-word. Each line that ends the text stays one line for scripts.
std::string wrappedLine(const std::string& line, size_t columns) {
    constexpr size_t kIndent = 4;
    std::string out;
    size_t lineLength = 0;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        const std::string word = line.substr(start, end - start);
        if (lineLength > kIndent && lineLength + 1 + word.size() >= columns) {
            out += "\n" + std::string(kIndent, ' ');
            lineLength = kIndent;
        } else if (start > 0) {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
        start = end + 1;
    }
    return out;
}

}  // namespace

void printOutcomeLines(const std::vector<RunOutcome>& outcomes) {
    const bool toTerminal = platform::isTerminal(platform::ConsoleStream::kOutput);
    const size_t columns = static_cast<size_t>(platform::terminalColumns());
    for (const RunOutcome& o : outcomes) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, " (%.1f s)", o.seconds);
        const std::string line = o.target + ": " + indentedLines(trimmedEnd(o.message)) + seconds;
        std::printf("%s\n", toTerminal && line.find('\n') == std::string::npos ? wrappedLine(line, columns).c_str()
                                                                               : line.c_str());
    }
}

void printSummaryTable(const std::vector<RunOutcome>& outcomes) {
    size_t unitWidth = 4;
    for (const RunOutcome& o : outcomes) unitWidth = std::max(unitWidth, o.target.size());
    size_t resultWidth = 6;
    for (const RunOutcome& o : outcomes) resultWidth = std::max(resultWidth, std::strlen(jsonName(o.result)));
    const int width = static_cast<int>(unitWidth);
    const int resultColumn = static_cast<int>(resultWidth);
    std::printf("\n%-*s  %-*s  %8s  %8s  %7s  %8s  %5s\n", width, "unit", resultColumn, "result", "time", "requests",
                "resends", "timeouts", "stale");
    for (const RunOutcome& o : outcomes) {
        std::printf("%-*s  %-*s  %7.1fs", width, o.target.c_str(), resultColumn, jsonName(o.result), o.seconds);
        if (o.counts) {
            std::printf("  %8u  %7u  %8u  %5u", o.counts->requests, o.counts->resends, o.counts->timeouts,
                        o.counts->staleFrames);
        }
        std::printf("\n");
    }
}

void printOutcomes(const std::vector<RunOutcome>& outcomes, bool json) {
    if (json) {
        printJsonDocument(outcomesDocument(outcomes));
        return;
    }
    printOutcomeLines(outcomes);
    if (outcomes.size() > 1) printSummaryTable(outcomes);
}
