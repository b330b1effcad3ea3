// Version texts read digit by digit: swscanf's %u would take signs, spaces and huge numbers.
#include "cli/firmware_version.h"

namespace {

constexpr unsigned kLargestPart = 0xFFFF;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Reads the digits at the start of `text` into `part` and drops them; false without any, or above the largest.
bool takeNumber(std::string_view& text, unsigned& part) {
    size_t digits = 0;
    part = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        part = part * 10 + static_cast<unsigned>(text[digits] - '0');
        if (part > kLargestPart) return false;
        ++digits;
    }
    text.remove_prefix(digits);
    return digits > 0;
}

}  // namespace

std::optional<FirmwareVersion> parseVersionText(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && (text.front() == 'V' || text.front() == 'v')) text.remove_prefix(1);
    FirmwareVersion version;
    if (!takeNumber(text, version.major) || text.empty() || text.front() != '.') return std::nullopt;
    text.remove_prefix(1);
    if (!takeNumber(text, version.minor) || !text.empty()) return std::nullopt;
    return version;
}

std::string versionString(const FirmwareVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

std::optional<RunResult> versionSkipResult(const std::optional<std::string>& onUnit,
                                           const std::optional<FirmwareVersion>& carried, const VersionRule& rule) {
    const std::optional<FirmwareVersion> found = onUnit ? parseVersionText(*onUnit) : std::nullopt;
    if (!found || !carried) return std::nullopt;
    if (*found == *carried && !rule.allowReinstall) return RunResult::kAlreadyCurrent;
    if (*found > *carried && !rule.allowOlder) return RunResult::kNewerOnUnit;
    return std::nullopt;
}
