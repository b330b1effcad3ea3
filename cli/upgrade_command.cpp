// Each unit's upgrade on its own thread, built from the other commands' pieces: the status
// probe, the unlock, the update, the exit run and the command-port probe.
#include "cli/upgrade_command.h"

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
    std::string result;
    std::string message;
    int exitStatus = kExitSuccess;
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

bool fail(UpgradeRecord& record, const char* step, const char* result, std::string message, int exitStatus) {
    record.step = step;
    record.result = result;
    record.message = std::move(message);
    record.exitStatus = exitStatus;
    return false;
}

std::string noResponseText() { return platform::toUtf8(updaterProperties.getOrEmpty(L"error-message.NoResponse")); }

std::string restartText(uint32_t restartMs) { return std::to_string(restartMs / 1000) + " s"; }

bool stopping(const UpgradeContext& context) { return context.shared.stopRequested.load(); }

// Command 1 until the bootloader answers, instead of a fixed wait after the unlock.
bool awaitBootloader(const UnitTarget& target, const UpgradeContext& context) {
    BootloaderEngine engine;
    engine.setTransport(makeBootloaderTransport(target.unit));
    const uint32_t start = platform::tickCount();
    bool answered = false;
    while (!answered && !stopping(context) &&
           platform::ticksBetween(start, platform::tickCount()) < context.restartMs) {
        if (!engine.openTransport()) {
            platform::sleepMs(kProbePauseMs);
            continue;
        }
        answered = BootloaderCommands(engine).identify(kPollTimeoutMs, 1).answered;
        engine.closeTransport();
    }
    return answered;
}

// The command port answers once the unit runs its application again.
bool awaitApplication(const UnitTarget& target, const UpgradeContext& context) {
    const uint32_t start = platform::tickCount();
    while (!stopping(context) && platform::ticksBetween(start, platform::tickCount()) < context.restartMs) {
        if (probeCommandPort(target.unit, kCommandPortTimeoutMs, [](Transport&, const char*) {})) return true;
        platform::sleepMs(kProbePauseMs);
    }
    return false;
}

void addCounts(EngineCounters& into, const EngineCounters& more) {
    into.requests += more.requests;
    into.resends += more.resends;
    into.timeouts += more.timeouts;
    into.staleFrames += more.staleFrames;
}

bool stoppedAt(UpgradeRecord& record, const char* step, const char* state) {
    return fail(record, step, "stopped", std::string("stopped; ") + state + "; run upgrade again", kExitFailed);
}

bool enterBootloadMode(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    if (!context.pin) {
        return fail(record, "enter_bootload", "no_pin",
                    "the unit runs its application and no PIN was given: use --pin-file FILE or ZT_PIN", kExitUsage);
    }
    postStep(run, L"Entering bootload mode");
    switch (enterBootload(run.target.unit, context.pin->c_str())) {
        case EnterBootloadResult::kEnabled: break;
        case EnterBootloadResult::kUnlockFailed:
            return fail(record, "enter_bootload", "pin_refused",
                        platform::toUtf8(uiString(kUnableToEnterBootloadMode)) +
                            " The unit refused the Installer PIN or broke off the unlock.",
                        kExitFailed);
        case EnterBootloadResult::kUnitNotFound:
            return fail(record, "enter_bootload", "no_response", noResponseText(), kExitNoResponse);
    }
    postStep(run, L"Waiting for the bootloader");
    if (awaitBootloader(run.target, context)) return true;
    if (stopping(context)) return stoppedAt(record, "wait_bootloader", "the unit is restarting into bootload mode");
    return fail(record, "wait_bootloader", "bootloader_silent",
                "bootload mode was entered but the bootloader did not answer within " + restartText(context.restartMs),
                kExitNoResponse);
}

bool updateAndVerify(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    const uint32_t terminal = updateUnit(run, context.shared);
    if (run.stopped) return stoppedAt(record, "update", "the unit stays in bootload mode");
    if (run.repliesInDoubt) return fail(record, "update", "replies_in_doubt", kRepliesInDoubtMessage, kExitFailed);
    if (terminal != WMU_UPDATE_DONE) {
        const RunOutcome outcome = outcomeOf(run.target.label, terminal, 0);
        return fail(record, "update", outcome.result.c_str(), outcome.message, outcome.exitStatus);
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
    return fail(record, "verify", "version_mismatch",
                "the unit reports application version " + after.application.value_or("(none)") + " after " +
                    context.expectedVersion + " was written; it stays in bootload mode",
                kExitFailed);
}

bool leaveBootloadMode(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    postStep(run, L"Leaving bootload mode");
    BootloaderEngine engine;
    const uint32_t terminal = runExitBootload(engine, &run.window, makeBootloaderTransport(run.target.unit));
    addCounts(run.counts, engine.counters());
    if (terminal != WMU_BOOTLOAD_EXITED) {
        const RunOutcome outcome = outcomeOf(run.target.label, terminal, 0);
        return fail(record, "exit_bootload", outcome.result.c_str(), outcome.message, outcome.exitStatus);
    }
    postStep(run, L"Waiting for the application");
    if (awaitApplication(run.target, context)) return true;
    if (stopping(context)) return stoppedAt(record, "wait_application", "the unit has left bootload mode");
    return fail(record, "wait_application", "did_not_return",
                "the unit left bootload mode but its command port did not answer within " +
                    restartText(context.restartMs) + ": check that it runs its application",
                kExitNoResponse);
}

bool upgradeSteps(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    postStep(run, L"Asking its state");
    UnitStatus before = probeStatus(run.target);
    logStatus(context.shared.log, run.target.label, "before", before);
    if (stopping(context)) return stoppedAt(record, "status", "the unit was not changed");
    if (!before.bootloader) {
        if (!before.bootloadMode) return fail(record, "status", "no_response", noResponseText(), kExitNoResponse);
        if (!enterBootloadMode(run, context, record)) return false;
        before = probeStatus(run.target);
        logStatus(context.shared.log, run.target.label, "in bootload mode", before);
    }
    record.bootloader = before.bootloader;
    record.versionBefore = before.application;
    if (!updateAndVerify(run, context, record)) return false;
    if (context.upgrade.stayInBootload) {
        record.message = "upgraded; the unit stays in bootload mode (--stay-in-bootload)";
        return true;
    }
    if (!leaveBootloadMode(run, context, record)) return false;
    record.message = "upgraded; the unit runs its application";
    return true;
}

uint32_t upgradeUnit(UnitRun& run, UpgradeContext& context, UpgradeRecord& record) {
    record = UpgradeRecord{};
    run.counts = {};
    run.hasCounts = false;
    run.stopped = false;
    run.repliesInDoubt = false;
    if (upgradeSteps(run, context, record)) record.result = "upgraded";
    return 0;
}

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

bool worthRetrying(const UpgradeRecord& record) {
    // A refused PIN tried again could lock the unit; a missing PIN or a stop stays as it is; a
    // unit that did not come back has its new firmware, and a second run would only hide why.
    return record.result != "upgraded" && record.result != "pin_refused" && record.result != "no_pin" &&
           record.result != "stopped" && record.result != "did_not_return";
}

nlohmann::json orNull(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

RunOutcome outcomeOfRecord(const UnitRun& run, const UpgradeRecord& record, const ProgressDisplay& display,
                           size_t unit) {
    if (run.attempts == 0) return notStartedOutcome(run.target.label);
    RunOutcome outcome{run.target.label, record.result, record.message, run.seconds(), record.exitStatus, {}};
    if (record.result == "stopped" && record.step == "update") {
        outcome.message = stoppedWhere(display, unit) + "; the unit stays in bootload mode; run upgrade again";
    }
    if (run.hasCounts) outcome.counts = run.counts;
    return outcome;
}

nlohmann::json upgradeDocument(const std::vector<RunOutcome>& outcomes, const std::vector<UpgradeRecord>& records,
                               const std::vector<std::unique_ptr<UnitRun>>& runs) {
    nlohmann::json document = outcomesDocument(outcomes);
    for (size_t i = 0; i < records.size(); ++i) {
        nlohmann::json& unit = document["units"][i];
        unit["step"] = records[i].result == "upgraded" || runs[i]->attempts == 0 ? nlohmann::json(nullptr)
                                                                                 : nlohmann::json(records[i].step);
        unit["bootloader"] = orNull(records[i].bootloader);
        unit["version_before"] = orNull(records[i].versionBefore);
        unit["version_after"] = orNull(records[i].versionAfter);
        unit["attempts"] = runs[i]->attempts;
        unit["started"] = std::round(runs[i]->startedAt * 1000) / 1000;
        unit["ended"] = std::round(runs[i]->endedAt * 1000) / 1000;
    }
    return document;
}

void printUpgradeLines(const std::vector<RunOutcome>& outcomes, const std::vector<UpgradeRecord>& records) {
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const RunOutcome& o = outcomes[i];
        const UpgradeRecord& r = records[i];
        const std::string versions =
            "application " + r.versionBefore.value_or("?") + " -> " + r.versionAfter.value_or("?");
        if (o.result == "not_started") {
            std::printf("%s: %s\n", o.target.c_str(), o.message.c_str());
        } else if (o.result == "upgraded") {
            std::printf("%s: %s, %s (%.1f s)\n", o.target.c_str(), o.message.c_str(), versions.c_str(), o.seconds);
        } else {
            std::printf("%s: %s at %s: %s (%.1f s)\n", o.target.c_str(), o.result.c_str(),
                        r.step.empty() ? "start" : r.step.c_str(), o.message.c_str(), o.seconds);
        }
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
    CheckedImages images;
    RunLog log;
    if (!readUpdateInputs(options, upgrade.update, targets, images, log, error) ||
        !reportWritable(options, upgrade.reportFile, error))
        return reportUsageError(error);
    parserPort = options.parserPort;
    if (const int confirmed = confirmUpdate(upgrade.update, targets.size()); confirmed != kExitSuccess)
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
    const std::vector<std::string> labels = targetLabels(targets);
    ProgressDisplay display(displayMode(options), labels);
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
        const UpgradeRecord& record = records[unit];
        log.line(labels[unit],
                 record.result + (record.result == "upgraded" ? "" : " at " + record.step + ": " + record.message));
        display.onFinished(unit, record.result);
    };
    hooks.again = [&](size_t unit) {
        if (runs[unit]->attempts > upgrade.retries || !worthRetrying(records[unit])) return false;
        log.line(labels[unit],
                 "tried again after the others (attempt " + std::to_string(runs[unit]->attempts + 1) + ")");
        display.onRetry(unit);
        return true;
    };
    runUnits(
        runs,
        [&](UnitRun& run) -> uint32_t {
            size_t unit = 0;
            while (runs[unit].get() != &run) ++unit;
            return upgradeUnit(run, context, records[unit]);
        },
        hooks, options.jobs);

    std::vector<RunOutcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
        outcomes.push_back(outcomeOfRecord(*runs[i], records[i], display, i));
        if (outcomes.back().counts) log.line(labels[i], countsText(*outcomes.back().counts));
    }
    const nlohmann::json document = upgradeDocument(outcomes, records, runs);
    int status = overallStatus(outcomes);
    if (!upgrade.reportFile.empty() && !writeReport(upgrade.reportFile, document)) {
        std::fprintf(stderr, "ztupdate: --report %s: cannot be written\n",
                     shownText(upgrade.reportFile, kShownWhole).c_str());
        status = worseStatus(status, kExitFailed);
    }
    if (options.json) {
        printJsonDocument(document);
    } else {
        printUpgradeLines(outcomes, records);
        if (outcomes.size() > 1) printSummaryTable(outcomes);
        suggestFastResend(outcomes, upgrade.update.fastResend);
    }
    status = closeRunLog(log, status);
    if (platform::interruptSignal() != 0) return kExitInterrupted + platform::interruptSignal();
    return status;
}
