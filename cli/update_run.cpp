// The update pieces shared by `update` and `upgrade`.
#include "cli/update_run.h"

#include <cctype>
#include <cstdio>
#include <iostream>

#include "cli/exit_status.h"
#include "bootloader/bootloader_commands.h"
#include "bootloader/request_worker.h"
#include "cli/inspect_command.h"
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

// Framing, command, sequence number and CRC of a request, and its reply, on a serial line.
constexpr double kRequestOverheadBytes = 9 + 10;
// A chunk request: address, length and 64 bytes of data, with the same framing.
constexpr double kChunkRequestBytes = 72 + kRequestOverheadBytes;
// Resends worth a hint: this many in all, and this share of the requests.
constexpr uint32_t kManyResends = 20;
constexpr double kManyResendsShare = 0.02;

// The requests each stage sends, counted the way inspect counts them, for the time left.
UnitPlan planOf(const UpdateCommandOptions& update, const CheckedImages& images) {
    CHexManager application;
    if (!update.noFirmware) loadApplicationCopy(images.application, application);
    CBinManager flash(kFlashImageOrigin);
    const bool withFlash = !update.noUi && loadFlashCopy(images.flash, flash);
    const TransferPlan transfer = planTransfer(application, withFlash ? &flash : nullptr);
    UnitPlan plan;
    plan.programRequests = transfer.programRequests;
    plan.flashChunks = transfer.flashChunks;
    if (transfer.programRequests > 0) {
        plan.programRequestBytes =
            static_cast<double>(application.recordBytes()) / transfer.programRequests + kRequestOverheadBytes;
    }
    plan.chunkRequestBytes = kChunkRequestBytes;
    return plan;
}

std::string stageLine(const std::string& stage, uint32_t startTick, uint32_t nowTick) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", platform::ticksBetween(startTick, nowTick) / 1000.0);
    return stage + " took " + seconds + " s";
}

// Early resends once the link has lost a reply, unless told otherwise.
FastResend resendMode(const UpdateCommandOptions& update) {
    if (update.fastResend) return FastResend::kAlways;
    return update.describedTiming ? FastResend::kNever : FastResend::kOnceResent;
}

std::optional<FirmwareVersion> carriedVersion(const UpdateCommandOptions& update, const wchar_t* property) {
    if (update.noFirmware) return std::nullopt;
    return parseVersionText(platform::toUtf8(property ? property : L""));
}

std::vector<UnitStatus> surveyUnits(const std::vector<UnitTarget>& targets, unsigned jobs) {
    auto runs = makeRuns(targets);
    std::vector<UnitStatus> found(targets.size());
    runUnits(
        runs,
        [&](UnitRun& run) -> uint32_t {
            found[run.index] = probeBootloader(run.target);
            return 0;
        },
        {}, jobs);
    return found;
}

std::string surveyLine(std::optional<RunResult> skip, const UnitStatus& found, const std::string& carried) {
    if (!found.bootloader)
        return "application version unknown until it is in bootload mode; " + carried + " to be written if older";
    const std::string version = "application " + found.application.value_or("(none)") + " found, ";
    if (skip == RunResult::kAlreadyCurrent) return version + "the same as the carried " + carried + ": skipped";
    if (skip == RunResult::kNewerOnUnit) return version + "newer than the carried " + carried + ": skipped";
    return version + carried + " to be written";
}

// One line per unit of the version it reports and what it gets; returns how many are skipped.
size_t printVersionSurvey(const UpdateCommandOptions& update, const std::vector<UnitTarget>& targets, unsigned jobs) {
    const std::optional<FirmwareVersion> carried =
        carriedVersion(update, unitProperties.getOrEmpty(L"server-fw-version"));
    if (!carried) return 0;
    const std::vector<UnitStatus> found = surveyUnits(targets, jobs);
    const VersionRule rule{update.allowReinstall, update.allowOlder};
    size_t skipped = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::optional<RunResult> skip = versionSkipResult(found[i].application, carried, rule);
        if (skip) ++skipped;
        std::fprintf(stderr, "  %s: %s\n", targets[i].label.c_str(),
                     surveyLine(skip, found[i], versionString(*carried)).c_str());
    }
    return skipped;
}

}  // namespace

bool isYes(const std::string& answer) {
    std::string lower;
    for (char c : answer) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "y" || lower == "yes";
}

bool readUpdateInputs(const GlobalOptions& options, const UpdateCommandOptions& update, UpdateInputs& inputs,
                      std::string& error) {
    if (!prepareTargets(options, inputs.targets, error) || !lockNetworkUnits(inputs.targets, inputs.locks, error) ||
        !readImages(update, options, inputs.images, error))
        return false;
    if (options.json && !options.logFile.empty() &&
        platform::isStandardOutput(platform::argumentPath(options.logFile))) {
        error = "--log " + shownText(options.logFile, kShownWhole) +
                " is the standard output, where --json writes its document: give the log a file of its own";
        return false;
    }
    if (!inputs.log.open(options.verbose && !options.json, options.logFile, error)) return false;
    logRunHeader(inputs.log, options, inputs.targets);
    return true;
}

UpdateProgress::UpdateProgress(const GlobalOptions& options, const UpdateCommandOptions& update, UpdateInputs& inputs)
    : labels(targetLabels(inputs.targets)),
      display(displayMode(options), labels, displayStream(options), options.jobs),
      stageLog(inputs.log, labels) {
    display.attachLog(inputs.log);
    setDisplayPlans(display, update, inputs.images, inputs.targets);
}

void UpdateProgress::onMessage(size_t unit, const platform::WindowMessage& message) {
    const std::string before = display.stage(unit);
    display.onMessage(unit, message);
    stageLog.onMessage(unit, before, display, message.id);
}

bool readImages(const UpdateCommandOptions& update, const GlobalOptions& options, CheckedImages& images,
                std::string& error) {
    if (update.noFirmware && update.noUi) {
        error = "nothing to update: --no-firmware and --no-ui leave nothing to send";
        return false;
    }
    if (!update.noFirmware) {
        HexCheckResult result;
        if (!readApplicationImage(update.images, images.application, result, error)) return false;
        if (options.verbose && !options.json) {
            std::fprintf(stderr, "%s: %u records, %u with data, %llu data bytes\n", images.application.name().c_str(),
                         result.records, result.dataRecords, static_cast<unsigned long long>(result.dataBytes));
        }
    }
    return update.noUi || readFlashImage(update.images, images.flash, error);
}

int confirmUpdate(const UpdateCommandOptions& update, const std::vector<UnitTarget>& targets, unsigned jobs) {
    if (update.yes) return kExitSuccess;
    if (!platform::isTerminal(platform::ConsoleStream::kInput)) {
        return reportUsageError("standard input is not a terminal; add --yes to confirm the update");
    }
    std::fprintf(stderr, "%s\n", platform::toUtf8(updaterProperties.getOrEmpty(L"update-warning")).c_str());
    const size_t skipped = printVersionSurvey(update, targets, jobs);
    const size_t units = targets.size() - skipped;
    if (skipped > 0) std::fprintf(stderr, "%zu unit%s will be skipped.\n", skipped, skipped == 1 ? "" : "s");
    std::fprintf(stderr, "Update %zu unit%s now? [y/N] ", units, units == 1 ? "" : "s");
    std::string answer;
    std::getline(std::cin, answer);
    if (platform::interruptSignal() != 0) {
        std::fprintf(stderr, "\nUpdate cancelled; nothing was sent.\n");
        return kExitInterrupted + platform::interruptSignal();
    }
    if (isYes(answer)) return kExitSuccess;
    std::fprintf(stderr, "Update cancelled; nothing was sent.\n");
    return kExitFailed;
}

ProgressDisplay::Mode displayMode(const GlobalOptions& options) {
    if (options.quiet) return ProgressDisplay::Mode::kSilent;
    if (options.json) {
        return platform::isTerminal(platform::ConsoleStream::kError) ? ProgressDisplay::Mode::kBars
                                                                     : ProgressDisplay::Mode::kSilent;
    }
    return platform::isTerminal(platform::ConsoleStream::kOutput) ? ProgressDisplay::Mode::kBars
                                                                  : ProgressDisplay::Mode::kLines;
}

std::FILE* displayStream(const GlobalOptions& options) { return options.json ? stderr : stdout; }

void setDisplayPlans(ProgressDisplay& display, const UpdateCommandOptions& update, const CheckedImages& images,
                     const std::vector<UnitTarget>& targets) {
    const UnitPlan plan = planOf(update, images);
    for (size_t i = 0; i < targets.size(); ++i) {
        UnitPlan unitPlan = plan;
        unitPlan.serial = targets[i].unit.isSerial();
        display.setPlan(i, unitPlan);
    }
}

SharedUpdate::SharedUpdate(const UpdateCommandOptions& choice, const CheckedImages& checked, RunLog& runLog)
    : update(choice),
      images(checked),
      log(runLog),
      firmwareVersion(unitProperties.getOrEmpty(L"server-fw-version")),
      carried(carriedVersion(choice, firmwareVersion)) {
    stages.overwriteServerFirmware = update.noFirmware ? 0 : 1;
    stages.overwriteServerUi = update.noUi ? 0 : 1;
    stages.overwriteFactoryDefaults = update.factoryDefaults ? 1 : 0;
}

nlohmann::json runJson(const GlobalOptions& options, const SharedUpdate& shared) {
    const UpdateCommandOptions& update = shared.update;
    const auto fileOrNull = [](const std::string& file) {
        return file.empty() ? nlohmann::json() : nlohmann::json(file);
    };
    nlohmann::json firmware = {
        {"application_version", shared.carried ? nlohmann::json(versionString(*shared.carried)) : nlohmann::json()},
        {"hex_file", update.noFirmware ? nlohmann::json() : fileOrNull(update.images.hexFile)},
        {"hex_data_sha256",
         update.noFirmware ? nlohmann::json() : nlohmann::json(hexDataDigest(shared.images.application))},
        {"flash_file", update.noUi ? nlohmann::json() : fileOrNull(update.images.flashFile)},
        {"flash_sha256", update.noUi ? nlohmann::json() : nlohmann::json(bytesDigest(shared.images.flash))}};
    return {{"started", isoTime(options.started)},
            {"ztupdate_version", ZT_PROGRAM_VERSION},
            {"command_line", options.commandLine},
            {"firmware", firmware}};
}

void addUnitTimes(nlohmann::json& unit, WallTime unitsStarted, const UnitRun& run) {
    const bool ran = run.attempts > 0;
    unit["started_at"] = ran ? nlohmann::json(isoTime(wallTimeAfter(unitsStarted, run.startedAt))) : nlohmann::json();
    unit["ended_at"] = ran ? nlohmann::json(isoTime(wallTimeAfter(unitsStarted, run.endedAt))) : nlohmann::json();
}

void logRunHeader(RunLog& log, const GlobalOptions& options, const std::vector<UnitTarget>& targets) {
    std::string names;
    for (const UnitTarget& target : targets) names += (names.empty() ? "" : ", ") + target.label;
    log.line("run", "started " + isoTime(options.started) + " by ztupdate " + ZT_PROGRAM_VERSION);
    log.line("run", "command line: " + options.commandLine);
    log.line("run", std::to_string(targets.size()) + (targets.size() == 1 ? " target: " : " targets: ") + names);
}

void refreshOrStop(SharedUpdate& shared, ProgressDisplay& display) {
    if (platform::interruptSignal() != 0 && !shared.stopRequested.exchange(true)) {
        display.stopDrawing();
        std::fprintf(stderr, "Stopping each unit at its next request (interrupt again to end at once)...\n");
    }
    display.refresh();
}

uint32_t updateUnit(UnitRun& run, SharedUpdate& shared) {
    CHexManager application;
    CBinManager flash(kFlashImageOrigin);
    if ((!shared.update.noFirmware && !loadApplicationCopy(shared.images.application, application)) ||
        (!shared.update.noUi && !loadFlashCopy(shared.images.flash, flash))) {
        return WMU_UPDATE_FAILED;
    }
    BootloaderEngine engine;
    engine.setFastResend(resendMode(shared.update));
    UnitLogObserver observer(shared.log, run.target.label);
    if (shared.log.active()) engine.setObserver(&observer);
    UpdateJob job{engine, application, flash, shared.stages, &run.window, shared.firmwareVersion};
    job.stopRequested = &shared.stopRequested;
    const uint32_t terminal = runUpdate(job, makeBootloaderTransport(run.target.unit));
    run.counts = engine.counters();
    run.hasCounts = true;
    run.stopped = job.stopped;
    run.repliesInDoubt = job.repliesInDoubt;
    return terminal;
}

// The status command's probe, answered on this thread.
UnitStatus probeStatus(const UnitTarget& target) {
    platform::MessageQueue answers;
    DeviceRequest request = deviceRequestFor(&answers, target.unit);
    answerDeviceRequest(request);
    std::vector<platform::WindowMessage> messages;
    platform::WindowMessage message;
    while (answers.receive(message, 0)) {
        messages.push_back(message);
        answers.handled();
    }
    return statusFromMessages(messages);
}

UnitStatus probeBootloader(const UnitTarget& target) {
    BootloaderEngine engine;
    engine.setTransport(makeBootloaderTransport(target.unit));
    UnitStatus status;
    if (!engine.openTransport()) return status;
    BootloaderCommands commands(engine);
    // Two sends, as the other identifications make: one lost datagram must not fail the check.
    const Identification identification = commands.identify(kQueryTimeoutMs, 2);
    uint32_t application = 0;
    if (identification.answered) {
        status.bootloader = versionString(
            {static_cast<unsigned>(identification.version >> 8), static_cast<unsigned>(identification.version & 0xFF)});
        status.bootloadMode = "enabled";
        if (commands.applicationVersion(application, kQueryTimeoutMs) && application != 0 &&
            application != APP_VERSION_NONE)
            status.application = versionString({application >> 16, application & 0xFFFF});
    }
    engine.closeTransport();
    return status;
}

std::optional<RunResult> versionSkip(const SharedUpdate& shared, const UnitStatus& before) {
    return versionSkipResult(before.application, shared.carried,
                             {shared.update.allowReinstall, shared.update.allowOlder});
}

std::string versionSkipText(RunResult skip, const UnitStatus& before, const SharedUpdate& shared) {
    const std::string found = before.application.value_or("?");
    const std::string carried = shared.carried ? versionString(*shared.carried) : "?";
    if (skip == RunResult::kAlreadyCurrent) {
        return "application " + found +
               " is already on the unit, the version carried: nothing was written "
               "(--allow-reinstall writes it again)";
    }
    return "the unit runs application " + found + ", newer than the carried " + carried +
           ": nothing was written (--allow-older writes the older one)";
}

void logStatus(RunLog& log, const std::string& unit, const char* when, const UnitStatus& status) {
    if (!log.active()) return;
    // Without an answering bootloader the flag is only what the command port reports.
    const std::string mode = status.bootloader     ? "bootload mode entered"
                             : status.bootloadMode ? "the command port reports bootload " + *status.bootloadMode
                                                   : "bootload mode unknown";
    log.line(unit, std::string(when) + ": bootloader " + status.bootloader.value_or("silent") + ", application " +
                       status.application.value_or("not reported") + ", " + mode);
}

const char* const kRepliesInDoubtMessage =
    "replies came that could not all be matched to their requests (sent twice or late by a "
    "bootloader that does not number them, or sent to another updater talking to the same unit): "
    "the unit's memory may be wrong; make sure no other updater is running and run update again, "
    "over a steadier link if you can";

std::string stoppedWhere(const ProgressDisplay& display, size_t unit) {
    const std::string initializing = platform::toUtf8(uiString(kInitializing));
    const std::string& stage = display.stage(unit);
    if (stage.empty() || stage == initializing)
        return "stopped during " + initializing + ", before anything was erased";
    const std::string where = "stopped during " + stage;
    const uint32_t planned = display.stageRequestsPlanned(unit);
    if (planned == 0) return where;
    const uint32_t done = display.stageRequestsDone(unit);
    const std::string image = display.stageKind(unit) == RunStage::kApplication ? "the application" : "the web content";
    return where + " after " + std::to_string(done) + " of " + std::to_string(planned) + " requests: " + image +
           (done == 0 ? " may be erased" : " is erased and incomplete");
}

StageLog::StageLog(RunLog& log, std::vector<std::string> labels)
    : log_(log),
      labels_(std::move(labels)),
      stageTicks_(labels_.size(), platform::tickCount()),
      stageOpen_(labels_.size(), false) {}

void StageLog::onMessage(size_t unit, const std::string& stageBefore, const ProgressDisplay& display, uint32_t id) {
    if (!log_.active()) return;
    const uint32_t now = platform::tickCount();
    // A run's terminal message closes its stage; upgrade's next step must not close it again.
    if (stageOpen_[unit] && (id == WMU_STATUS_TEXT || isTerminalMessage(id))) {
        log_.line(labels_[unit], stageLine(stageBefore, stageTicks_[unit], now));
        stageOpen_[unit] = false;
    }
    if (id == WMU_STATUS_TEXT) {
        log_.line(labels_[unit], display.stage(unit) + " started");
        stageTicks_[unit] = now;
        stageOpen_[unit] = true;
    }
}

int closeRunLog(RunLog& log, int status) {
    std::string error;
    if (log.close(error)) return status;
    std::fprintf(stderr, "ztupdate: %s\n", error.c_str());
    return worseStatus(status, kExitFailed);
}

// Only the described timing leaves each lost reply its whole second.
void suggestFastResend(const std::vector<RunOutcome>& outcomes, const UpdateCommandOptions& update) {
    if (!update.describedTiming) return;
    uint32_t requests = 0;
    uint32_t resends = 0;
    for (const RunOutcome& o : outcomes) {
        if (!o.counts) continue;
        requests += o.counts->requests;
        resends += o.counts->resends;
    }
    if (resends < kManyResends || resends < kManyResendsShare * requests) return;
    std::printf(
        "\n%u of %u requests were sent again: on a lossy link, leave out --described-timing to shorten\n"
        "each wait for a lost reply (sequenced bootloaders only; a unit that does not answer still fails\n"
        "as late).\n",
        resends, requests);
}
