// The versions `update` and `upgrade` compare before writing anything: the carried firmware's
// property ("V1.12") against the application version the unit reports ("1.12").
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

#include "cli/run_result.h"

struct FirmwareVersion {
    unsigned major = 0;
    unsigned minor = 0;

    auto operator<=>(const FirmwareVersion&) const = default;
};

// "V1.12", "v1.12" or "1.12", spaces around allowed; anything else (a missing minor, a sign,
// trailing text, a part above 65535) is no version.
std::optional<FirmwareVersion> parseVersionText(std::string_view text);

std::string versionString(const FirmwareVersion& version);

// What the installer allows over the rule of updating only older firmware.
struct VersionRule {
    bool allowReinstall = false;
    bool allowOlder = false;
};

// kAlreadyCurrent or kNewerOnUnit when the unit's application must be left as it is, else none:
// also when either version is unknown, since a unit without a readable one needs the update.
std::optional<RunResult> versionSkipResult(const std::optional<std::string>& onUnit,
                                           const std::optional<FirmwareVersion>& carried, const VersionRule& rule);
