// What `update` and `upgrade` share: the checked images, the confirmation, the stages chosen,
// the display's plans, one unit's update on its own engine, and the stage lines of the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/update_sequence.h"
#include "cli/firmware_version.h"
#include "cli/global_options.h"
#include "cli/image_files.h"
#include "cli/progress_display.h"
#include "cli/run_log.h"
#include "cli/run_record.h"
#include "cli/run_outcome.h"
#include "cli/status_command.h"
#include "cli/unit_lock.h"
#include "cli/unit_runner.h"

struct UpdateCommandOptions {
    bool noFirmware = false;
    bool noUi = false;
    bool factoryDefaults = false;
    bool yes = false;
    // Sequenced bootloaders are resent to after their measured reply time, not the full interval:
    // by default once a resend has shown the link to lose, with fastResend from the start, with
    // describedTiming never.
    bool fastResend = false;
    bool describedTiming = false;
    // Firmware is written only over an older version, unless these allow the same or a newer one.
    bool allowReinstall = false;
    bool allowOlder = false;
    ImageChoice images;
};

// The answers to "[y/N]" that mean yes: y and yes in any case.
bool isYes(const std::string& answer);

// Each image is read and checked once; the units' readers are made from these bytes.
struct CheckedImages {
    ImageBytes application;
    ImageBytes flash;
};

// What update and upgrade start from; the locks are held for the whole run.
struct UpdateInputs {
    std::vector<UnitTarget> targets;
    UnitLocks locks;
    CheckedImages images;
    RunLog log;
};

// The targets and their locks, the checked images and the opened log, in that order; false with
// the first error. With --json, a --log naming standard output is refused: its lines would break
// the document.
bool readUpdateInputs(const GlobalOptions& options, const UpdateCommandOptions& update, UpdateInputs& inputs,
                      std::string& error);
// False, with a message, for nothing to update or an image that cannot be read or fails a check.
bool readImages(const UpdateCommandOptions& update, const GlobalOptions& options, CheckedImages& images,
                std::string& error);
// The update warning, each unit's version against the carried one (asked of the units only when
// the question is shown) and "[y/N]"; without a terminal only --yes counts. kExitSuccess to go
// on, else the exit status.
int confirmUpdate(const UpdateCommandOptions& update, const std::vector<UnitTarget>& targets, unsigned jobs);
// Bars on a terminal, lines otherwise; beside --json they go to standard error, and only to a terminal.
ProgressDisplay::Mode displayMode(const GlobalOptions& options);
std::FILE* displayStream(const GlobalOptions& options);
// The time left of each unit's display, from the requests each stage will send.
void setDisplayPlans(ProgressDisplay& display, const UpdateCommandOptions& update, const CheckedImages& images,
                     const std::vector<UnitTarget>& targets);

// Everything the units' updates share; read by every unit's thread.
struct SharedUpdate {
    SharedUpdate(const UpdateCommandOptions& choice, const CheckedImages& checked, RunLog& runLog);

    const UpdateCommandOptions& update;
    const CheckedImages& images;
    UpdateOptions stages;
    RunLog& log;
    const wchar_t* firmwareVersion;
    // The application version the update writes; none when it writes no firmware.
    std::optional<FirmwareVersion> carried;
    std::atomic<bool> stopRequested{false};
};

// kAlreadyCurrent or kNewerOnUnit for a unit whose application is to be left as it is.
std::optional<RunResult> versionSkip(const SharedUpdate& shared, const UnitStatus& before);
// Why such a unit was left as it is: its version against the carried one, and the option that
// would write it anyway.
std::string versionSkipText(RunResult skip, const UnitStatus& before, const SharedUpdate& shared);

// The "run" object of update's and upgrade's documents: when the run started, the program,
// its command line and the firmware it carried, with digests.
nlohmann::json runJson(const GlobalOptions& options, const SharedUpdate& shared);
// A unit's wall-clock start and end as "started_at" and "ended_at", from when the units' turn began.
void addUnitTimes(nlohmann::json& unit, WallTime unitsStarted, const UnitRun& run);
// The --log lines that open a run: its date, the program, the command line and the targets.
void logRunHeader(RunLog& log, const GlobalOptions& options, const std::vector<UnitTarget>& targets);

// Between messages: redraws the display, or on the first interrupt asks every unit to stop at
// its next request and says so once.
void refreshOrStop(SharedUpdate& shared, ProgressDisplay& display);

// One unit's whole update on its own engine and image readers; leaves the engine's counts and
// whether it stopped in `run`. Returns the terminal message.
uint32_t updateUnit(UnitRun& run, SharedUpdate& shared);

// The status command's probe of one unit, answered on the calling thread.
UnitStatus probeStatus(const UnitTarget& target);
// The bootloader's version and the application's, asked once: quick on a unit in its
// application, whose bootloader is silent (then nothing is known).
UnitStatus probeBootloader(const UnitTarget& target);
// "before: bootloader 3.1, application 1.0, bootload mode enabled": the unit's answers to the
// version queries, for the log.
void logStatus(RunLog& log, const std::string& unit, const char* when, const UnitStatus& status);

// Why a run whose replies were in doubt failed, in the installer's words.
extern const char* const kRepliesInDoubtMessage;

// "stopped during Server UI after 40 of 625 requests: the web content is erased and incomplete":
// where a stopped unit's run ended and what it had done, from its display.
std::string stoppedWhere(const ProgressDisplay& display, size_t unit);

// The -v and --log lines of each stage's start and time, fed the messages the display sees.
class StageLog {
public:
    StageLog(RunLog& log, std::vector<std::string> labels);
    // Call with the unit's stage before the display took the message.
    void onMessage(size_t unit, const std::string& stageBefore, const ProgressDisplay& display, uint32_t id);

private:
    RunLog& log_;
    std::vector<std::string> labels_;
    std::vector<uint32_t> stageTicks_;
    std::vector<bool> stageOpen_;
};

// Each unit's progress as update and upgrade show it: the display, and the log's stage lines.
struct UpdateProgress {
    // `inputs` must outlive it.
    UpdateProgress(const GlobalOptions& options, const UpdateCommandOptions& update, UpdateInputs& inputs);
    // A unit's message, for the runner's hook.
    void onMessage(size_t unit, const platform::WindowMessage& message);

    const std::vector<std::string> labels;
    ProgressDisplay display;
    StageLog stageLog;
};

// Closes the run's log; a log that lost lines is said on standard error, and the status becomes
// at least kExitFailed.
int closeRunLog(RunLog& log, int status);

// With many resends and no --fast-resend, the closing hint that it would shorten the waits.
void suggestFastResend(const std::vector<RunOutcome>& outcomes, const UpdateCommandOptions& update);
