// What one unit's run came to, as one table: the name JSON reports carry (and --units-from ...
// --failed reads back), whether it counts as done, and whether upgrade may try the unit again.
#pragma once

#include <string_view>

enum class RunResult {
    kUpdated,
    kUpgraded,
    kExited,
    kEnabled,
    kAlreadyCurrent,
    kNewerOnUnit,
    kNothingToLeave,
    kFailed,
    kWrongResponse,
    kNoResponse,
    kNotStarted,
    kStopped,
    kRepliesInDoubt,
    kApplicationRunning,
    kRefused,
    kNoPin,
    kPinRefused,
    kBootloaderSilent,
    kDidNotReturn,
    kVersionMismatch,
};

struct RunResultRow {
    RunResult result;
    // Written into reports and read back from them: never rename one.
    const char* jsonName;
    bool success;
    // A refused PIN tried again could lock the unit; a missing PIN or a stop stays as it is; a
    // unit that did not come back has its new firmware, and a second run would only hide why.
    bool mayRetry;
};

// In the order of the enumeration.
inline constexpr RunResultRow kRunResults[] = {
    {RunResult::kUpdated, "updated", true, false},
    {RunResult::kUpgraded, "upgraded", true, false},
    {RunResult::kExited, "exited", true, false},
    {RunResult::kEnabled, "enabled", true, false},
    {RunResult::kAlreadyCurrent, "already_current", true, false},
    {RunResult::kNewerOnUnit, "newer_on_unit", true, false},
    {RunResult::kNothingToLeave, "nothing_to_leave", true, false},
    {RunResult::kFailed, "failed", false, true},
    {RunResult::kWrongResponse, "wrong_response", false, true},
    {RunResult::kNoResponse, "no_response", false, true},
    {RunResult::kNotStarted, "not_started", false, true},
    {RunResult::kStopped, "stopped", false, false},
    {RunResult::kRepliesInDoubt, "replies_in_doubt", false, true},
    {RunResult::kApplicationRunning, "application_running", false, true},
    {RunResult::kRefused, "refused", false, true},
    {RunResult::kNoPin, "no_pin", false, false},
    {RunResult::kPinRefused, "pin_refused", false, false},
    {RunResult::kBootloaderSilent, "bootloader_silent", false, true},
    {RunResult::kDidNotReturn, "did_not_return", false, false},
    {RunResult::kVersionMismatch, "version_mismatch", false, true},
};

const char* jsonName(RunResult result);
bool isSuccess(RunResult result);
bool mayRetry(RunResult result);
// A name from a report; one this program does not know reads as failed.
RunResult runResultNamed(std::string_view name);
// Firmware left as it was found, since the unit's is not older.
bool isVersionSkip(RunResult result);
