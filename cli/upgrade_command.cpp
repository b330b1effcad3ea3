// Each unit's upgrade on its own thread, built from the other commands' pieces: the status
// probe, the unlock, the update, the exit run and the command-port probe.
#include "cli/upgrade_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "bootloader/bootloader_commands.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/pin_source.h"
#include "cli/status_command.h"
#include "cli/target_text.h"
#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/text.h"
#include "transport/transport_factory.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

namespace {

constexpr uint16_t kPollTimeoutMs = 500;
constexpr uint32_t kProbePauseMs = 250;

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

struct UpgradeContext {
    const UpgradeCommandOptions& upgrade;
    SharedUpdate& shared;
    std::optional<std::string> pin;
    std::string expectedVersion;
    uint32_t restartMs;
};

void postStep(UnitRun& run, const wchar_t* text) { postStatus(&run.window, text, true); }

bool fail(UpgradeRecord& record, const char* step, RunResult result, std::string message, int exitStatus) {
    record.step = step;
    record.result = result;
    record.message = std::move(message);
    record.exitStatus = exitStatus;
    return false;
}

std::string noResponseText() { return platform::toUtf8(updaterProperties.getOrEmpty(L"error-message.NoResponse")); }

bool stopping(const UpgradeContext& context) { return context.shared.stopRequested.load(); }

// A restart wait: whether the unit answered, and how long the wait really took.
struct Waited {
    bool answered = false;
    uint32_t ms = 0;
};

std::string secondsText(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

// Polls until `answers` is true or the restart time is spent; each poll gets only the time left.
template <typename Poll>
Waited awaitRestart(const UpgradeContext& context, Poll answers) {
    const uint32_t start = platform::tickCount();
    Waited waited;
    for (;;) {
        const uint32_t spent = platform::ticksBetween(start, platform::tickCount());
        if (waited.answered || stopping(context) || spent >= context.restartMs) {
            waited.ms = spent;
            return waited;
        }
        waited.answered = answers(context.restartMs - spent);
        if (!waited.answered) platform::sleepMs(std::min(kProbePauseMs, context.restartMs - spent));
    }
}

// Command 1 until the bootloader answers, instead of a fixed wait after the unlock.
Waited awaitBootloader(const UnitTarget& target, const UpgradeContext& context) {
    BootloaderEngine engine;
    engine.setTransport(makeBootloaderTransport(target.unit));
    return awaitRestart(context, [&](uint32_t leftMs) {
        if (!engine.openTransport()) return false;
        const uint16_t timeoutMs = static_cast<uint16_t>(std::min<uint32_t>(kPollTimeoutMs, leftMs));
        const bool answered = BootloaderCommands(engine).identify(timeoutMs, 1).answered;
        engine.closeTransport();
        return answered;
    });
}

// The command port answers once the unit runs its application again.
Waited awaitApplication(const UnitTarget& target, const UpgradeContext& context) {
    return awaitRestart(context, [&](uint32_t leftMs) {
        return probeCommandPortWithin(target.unit, leftMs, [](Transport&, const char*) {});
    });
}

void addCounts(EngineCounters& into, const EngineCounters& more) {
    into.requests += more.requests;
    into.resends += more.resends;
    into.timeouts += more.timeouts;
    into.staleFrames += more.staleFrames;
}

bool stoppedAt(UpgradeRecord& record, const char* step, const char* state) {
    return fail(record, step, RunResult::kStopped, std::string("stopped; ") + state + "; run upgrade again",
                kExitFailed);
}

// After the wait, the command port tells a unit that never left its application (or came back
// to it) from one that went quiet.
std::string silentBootloaderText(const UnitTarget& target, const Waited& waited) {
    const std::string silence = "the bootloader did not answer within " + secondsText(waited.ms) + " and ";
    if (probeCommandPort(target.unit, kCommandPortTimeoutMs, [](Transport&, const char*) {})) {
        return "the unit did not restart into bootload mode: " + silence +
               "its command port answers, so it still runs its application";
    }
    return "the unit was told to restart into bootload mode, but " + silence + "its command port is silent too";
}

bool enterBootloadMode(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    if (!context.pin) {
        return fail(record, "enter_bootload", RunResult::kNoPin,
                    "the unit runs its application and no PIN was given: use --pin-file FILE or ZT_PIN", kExitUsage);
    }
    postStep(run, L"Entering bootload mode");
    switch (enterBootload(run.target.unit, context.pin->c_str())) {
        case EnterBootloadResult::kEnabled: break;
        case EnterBootloadResult::kUnlockFailed:
            return fail(record, "enter_bootload", RunResult::kPinRefused, refusedPinText(), kExitFailed);
        case EnterBootloadResult::kUnitNotFound:
            return fail(record, "enter_bootload", RunResult::kNoResponse, noResponseText(), kExitNoResponse);
    }
    postStep(run, L"Waiting for the bootloader");
    const Waited waited = awaitBootloader(run.target, context);
    if (waited.answered) return true;
    if (stopping(context)) return stoppedAt(record, "wait_bootloader", "the unit is restarting into bootload mode");
    return fail(record, "wait_bootloader", RunResult::kBootloaderSilent, silentBootloaderText(run.target, waited),
                kExitNoResponse);
}

bool leaveBootloadMode(UnitRun& run, UpgradeContext& context, UpgradeRecord& record, LeaveScope scope) {
    postStep(run, L"Leaving bootload mode");
    BootloaderEngine engine;
    const uint32_t terminal = runExitBootload(engine, &run.window, makeBootloaderTransport(run.target.unit), scope);
    addCounts(run.counts, engine.counters());
    if (terminal != WMU_BOOTLOAD_EXITED) {
        const RunOutcome outcome = outcomeOf(run.target.label, terminal, 0);
        return fail(record, "exit_bootload", outcome.result, outcome.message, outcome.exitStatus);
    }
    postStep(run, L"Waiting for the application");
    const Waited waited = awaitApplication(run.target, context);
    if (waited.answered) return true;
    if (stopping(context)) {
        return fail(record, "wait_application", RunResult::kStopped,
                    "the unit was told to leave bootload mode; only its return was not awaited", kExitFailed);
    }
    return fail(record, "wait_application", RunResult::kDidNotReturn,
                "the unit left bootload mode but its command port did not answer within " + secondsText(waited.ms) +
                    ": check that it runs its application",
                kExitNoResponse);
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string returnToApplication(UnitRun& run, UpgradeContext& context, const UpgradeRecord& record) {
    UpgradeRecord leaving = record;
    if (leaveBootloadMode(run, context, leaving, LeaveScope::kAnyVersion)) {
        return "it left bootload mode again and runs its application";
    }
    if (leaving.step != "exit_bootload") return leaving.message;
    return "leaving bootload mode failed (" + firstLine(leaving.message) + "): the unit is still in bootload mode";
}

// The bootloader's identification was refused before anything was erased. A unit this run took
// out of its application goes back to it (unless told to stay); the message says where it is.
bool refusedUnchanged(UnitRun& run, UpgradeContext& context, UpgradeRecord& record, const RunOutcome& cause) {
    std::string where = "the unit stays in bootload mode";
    if (record.enteredBootload && !context.upgrade.stayInBootload) where = returnToApplication(run, context, record);
    return fail(record, "update", cause.result, firstLine(cause.message) + " Nothing was written; " + where,
                cause.exitStatus);
}

bool updateAndVerify(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    const uint32_t terminal = updateUnit(run, context.shared);
    if (run.stopped) return stoppedAt(record, "update", "the unit stays in bootload mode");
    if (run.repliesInDoubt)
        return fail(record, "update", RunResult::kRepliesInDoubt, kRepliesInDoubtMessage, kExitFailed);
    if (terminal != WMU_UPDATE_DONE) {
        const RunOutcome outcome = outcomeOf(run.target.label, terminal, 0);
        if (terminal == WMU_WRONG_RESPONSE) return refusedUnchanged(run, context, record, outcome);
        return fail(record, "update", outcome.result, outcome.message, outcome.exitStatus);
    }
    if (context.upgrade.update.noFirmware) {
        record.versionAfter = record.versionBefore;
        return true;
    }
    postStep(run, L"Reading the version back");
    const UnitStatus after = probeStatus(run.target);
    logStatus(context.shared.log, run.target.label, "after the update", after);
    record.versionAfter = after.application;
    if (after.application == context.expectedVersion) return true;
    return fail(record, "verify", RunResult::kVersionMismatch,
                "the unit reports application version " + after.application.value_or("(none)") + " after " +
                    context.expectedVersion + " was written; it stays in bootload mode",
                kExitFailed);
}

std::string updateDoneText(const UpgradeContext& context) {
    return context.upgrade.update.noFirmware ? "the update is complete" : "the update is complete and verified";
}

// A unit whose firmware is not older is left where it was found: one this run took out of its
// application goes back to it (unless told to stay), so a second run over a venue changes nothing.
bool leaveUnchanged(UnitRun& run, UpgradeContext& context, UpgradeRecord& record, RunResult skip,
                    const std::string& why) {
    record.versionAfter = record.versionBefore;
    if (!record.enteredBootload || context.upgrade.stayInBootload) {
        record.result = skip;
        record.message = why + "; the unit stays in bootload mode";
        return true;
    }
    if (!leaveBootloadMode(run, context, record, LeaveScope::kAnyVersion)) {
        record.message = why + ", but " + record.message;
        return false;
    }
    record.result = skip;
    record.message = why + "; it left bootload mode again and runs its application";
    return true;
}

bool upgradeSteps(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    postStep(run, L"Asking its state");
    UnitStatus before = probeStatus(run.target);
    logStatus(context.shared.log, run.target.label, "before", before);
    if (stopping(context)) return stoppedAt(record, "status", "the unit was not changed");
    if (!before.bootloader) {
        if (!before.bootloadMode)
            return fail(record, "status", RunResult::kNoResponse, noResponseText(), kExitNoResponse);
        if (!enterBootloadMode(run, context, record)) return false;
        record.enteredBootload = true;
        before = probeStatus(run.target);
        logStatus(context.shared.log, run.target.label, "in bootload mode", before);
    }
    record.bootloader = before.bootloader;
    record.versionBefore = before.application;
    if (const std::optional<RunResult> skip = versionSkip(context.shared, before))
        return leaveUnchanged(run, context, record, *skip, versionSkipText(*skip, before, context.shared));
    if (!updateAndVerify(run, context, record)) return false;
    if (context.upgrade.stayInBootload) {
        record.message = "upgraded; the unit stays in bootload mode (--stay-in-bootload)";
        return true;
    }
    if (!leaveBootloadMode(run, context, record, LeaveScope::kUpdatable)) {
        if (record.result == RunResult::kStopped)
            record.message = "stopped; " + updateDoneText(context) + "; " + record.message;
        return false;
    }
    record.message = "upgraded; the unit runs its application";
    return true;
}

uint32_t upgradeUnit(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    record = UpgradeRecord{};
    run.counts = {};
    run.hasCounts = false;
    run.stopped = false;
    run.repliesInDoubt = false;
    upgradeSteps(run, context, record);
    return 0;
}

bool succeeded(const UpgradeRecord& record) { return isSuccess(record.result); }

std::string expectedVersion(const wchar_t* firmwareVersion) {
    uint8_t minor = 0;
    uint8_t major = 0;
    parseFirmwareVersion(firmwareVersion, minor, major);
    return std::to_string(major) + "." + std::to_string(minor);
}

// The PIN is asked once for all units; without any source, units in application mode fail alone.
bool choosePin(const UpgradeCommandOptions& upgrade, std::optional<std::string>& pin, std::string& error) {
    if (upgrade.pinFile.empty() && !std::getenv("ZT_PIN") && !platform::isTerminal(platform::ConsoleStream::kInput)) {
        return true;
    }
    std::string typed;
    if (!readInstallerPin(upgrade.pinFile, typed, error)) return false;
    pin = typed;
    return true;
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

nlohmann::json orNull(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// A stop during the update is worded from the display, which saw how far the stage came.
void finishRecord(UpgradeRecord& record, const ProgressDisplay& display, size_t unit) {
    if (record.result == RunResult::kStopped && record.step == "update") {
        record.message = stoppedWhere(display, unit) + "; the unit stays in bootload mode; run upgrade again";
    }
}

RunOutcome outcomeOfRecord(const UnitRun& run, const UpgradeRecord& record) {
    if (run.attempts == 0) return notStartedOutcome(run.target.label);
    RunOutcome outcome{run.target.label, record.result, record.message, run.seconds(), record.exitStatus, {}};
    if (run.hasCounts) outcome.counts = run.counts;
    return outcome;
}

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

// Where the document comes from: the run's options, its shared images and when its units began.
struct UpgradeRun {
    const GlobalOptions& options;
    const SharedUpdate& shared;
    WallTime unitsStarted;
};

nlohmann::json upgradeDocument(const UpgradeRun& run, const std::vector<RunOutcome>& outcomes,
                               const std::vector<UpgradeRecord>& records,
                               const std::vector<std::vector<UpgradeRecord>>& attempts,
                               const std::vector<std::unique_ptr<UnitRun>>& runs) {
    nlohmann::json document = outcomesDocument(outcomes);
    document["run"] = runJson(run.options, run.shared);
    for (size_t i = 0; i < records.size(); ++i) {
        nlohmann::json& unit = document["units"][i];
        unit["step"] =
            succeeded(records[i]) || runs[i]->attempts == 0 ? nlohmann::json(nullptr) : nlohmann::json(records[i].step);
        unit["bootloader"] = orNull(records[i].bootloader);
        unit["version_before"] = orNull(records[i].versionBefore);
        unit["version_after"] = orNull(records[i].versionAfter);
        unit["attempts"] = attemptsJson(attempts[i]);
        unit["started"] = std::round(runs[i]->startedAt * 1000) / 1000;
        unit["ended"] = std::round(runs[i]->endedAt * 1000) / 1000;
        addUnitTimes(unit, run.unitsStarted, *runs[i]);
    }
    return document;
}

// A retried unit's result is followed by how its first attempt ended, which the later ones may hide.
void printFirstCause(const std::vector<UpgradeRecord>& attempts) {
    if (attempts.size() < 2) return;
    const UpgradeRecord& first = attempts.front();
    const std::string step = stepOf(first);
    std::printf("    attempt 1 of %zu: %s%s: %s\n", attempts.size(), jsonName(first.result),
                step.empty() ? "" : (" at " + step).c_str(), firstLine(first.message).c_str());
}

void printUpgradeLines(const std::vector<RunOutcome>& outcomes, const std::vector<UpgradeRecord>& records,
                       const std::vector<std::vector<UpgradeRecord>>& attempts) {
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const RunOutcome& o = outcomes[i];
        const UpgradeRecord& r = records[i];
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
        printFirstCause(attempts[i]);
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

int runUpgradeCommand(const GlobalOptions& options, const UpgradeCommandOptions& upgrade) {
    std::vector<UnitTarget> targets;
    std::string error;
    UnitLocks locks;
    CheckedImages images;
    RunLog log;
    if (!readUpdateInputs(options, upgrade.update, targets, locks, images, log, error) ||
        !reportWritable(options, upgrade.reportFile, error))
        return reportUsageError(error);
    parserPort = options.parserPort;
    if (const int confirmed = confirmUpdate(upgrade.update, targets, options.jobs); confirmed != kExitSuccess)
        return confirmed;
    SharedUpdate shared(upgrade.update, images, log);
    UpgradeContext context{upgrade, shared, std::nullopt, expectedVersion(shared.firmwareVersion),
                           upgrade.restartSeconds * 1000};
    if (!choosePin(upgrade, context.pin, error)) {
        const int usage = reportUsageError(error);
        return platform::interruptSignal() != 0 ? kExitInterrupted + platform::interruptSignal() : usage;
    }

    auto runs = makeRuns(targets);
    std::vector<UpgradeRecord> records(runs.size());
    std::vector<std::vector<UpgradeRecord>> attempts(runs.size());
    const std::vector<std::string> labels = targetLabels(targets);
    ProgressDisplay display(displayMode(options), labels, displayStream(options), options.jobs);
    display.attachLog(log);
    setDisplayPlans(display, upgrade.update, images, targets);
    StageLog stageLog(log, labels);

    RunnerHooks hooks;
    hooks.onMessage = [&](size_t unit, const platform::WindowMessage& message) {
        const std::string before = display.stage(unit);
        display.onMessage(unit, message);
        stageLog.onMessage(unit, before, display, message.id);
    };
    hooks.idle = [&] { refreshOrStop(shared, display); };
    hooks.onFinished = [&](size_t unit) {
        UpgradeRecord& record = records[unit];
        finishRecord(record, display, unit);
        attempts[unit].push_back(record);
        const std::string where = succeeded(record) ? ": " : " at " + record.step + ": ";
        log.line(labels[unit],
                 jsonName(record.result) + (record.result == RunResult::kUpgraded ? "" : where + record.message));
        display.onFinished(unit, record.result);
    };
    hooks.again = [&](size_t unit) {
        if (runs[unit]->attempts > upgrade.retries || !mayRetry(records[unit].result)) return false;
        log.line(labels[unit],
                 "tried again after the others (attempt " + std::to_string(runs[unit]->attempts + 1) + ")");
        display.onRetry(unit);
        return true;
    };
    const WallTime unitsStarted = std::chrono::system_clock::now();
    runUnits(
        runs, [&](UnitRun& run) -> uint32_t { return upgradeUnit(run, context, records[indexOfRun(runs, run)]); },
        hooks, options.jobs);
    display.finish();

    std::vector<RunOutcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
        outcomes.push_back(outcomeOfRecord(*runs[i], records[i]));
        if (outcomes.back().counts) log.line(labels[i], countsText(*outcomes.back().counts));
    }
    const nlohmann::json document = upgradeDocument({options, shared, unitsStarted}, outcomes, records, attempts, runs);
    int status = overallStatus(outcomes);
    if (!upgrade.reportFile.empty() && !writeReport(upgrade.reportFile, document)) {
        std::fprintf(stderr, "ztupdate: --report %s: cannot be written\n",
                     shownText(upgrade.reportFile, kShownWhole).c_str());
        status = worseStatus(status, kExitFailed);
    }
    if (options.json) {
        printJsonDocument(document);
    } else {
        printUpgradeLines(outcomes, records, attempts);
        if (outcomes.size() > 1) printSummaryTable(outcomes);
        suggestFastResend(outcomes, upgrade.update);
    }
    status = closeRunLog(log, status);
    if (platform::interruptSignal() != 0) return kExitInterrupted + platform::interruptSignal();
    return status;
}
