// Command-port state: the Installer PIN unlocks, "<SY,BE/>" enables bootload mode, and
// "<SY,BR/>" restarts the unit into its bootloader.
#include "sim/command_port.h"

#include <string_view>

namespace {

constexpr size_t kLongestCommand = 64;  // anything longer is noise, not a command
// The unlock command is this prefix, the PIN and the command end.
constexpr std::string_view kUnlockPrefix = "<SY,BU";
constexpr std::string_view kCommandEnd = "/>";

}  // namespace

CommandPort::CommandPort(const UnitConfig& config) : config_(config), enabled_(config.bootloadEnabled) {}

void CommandPort::restart() {
    unlocked_ = false;
    stats_.restartRequested = false;
}

std::vector<std::string> CommandPort::feed(std::string& pending, const uint8_t* bytes, size_t count) {
    std::vector<std::string> replies;
    for (size_t i = 0; i < count && !stats_.restartRequested; ++i) {
        char c = static_cast<char>(bytes[i]);
        if (c == '<') {
            pending.assign(1, '<');  // not = "<": g++ 12 -O3 warns falsely (-Wrestrict)
            continue;
        }
        if (pending.empty()) continue;
        pending += c;
        if (pending.size() > kLongestCommand) {
            pending.clear();
        } else if (pending.size() >= 3 && pending.compare(pending.size() - 2, 2, "/>") == 0) {
            replies.push_back(answer(pending));
            pending.clear();
        }
    }
    return replies;
}

std::string CommandPort::answer(const std::string& command) {
    ++stats_.commands;
    std::string state = enabled_ ? "ue" : "ud";
    if (command == "<SY,BQ/>") return "<sy,bq = " + state + "/>";
    if (command.starts_with(kUnlockPrefix)) {
        std::string pin =
            command.substr(kUnlockPrefix.size(), command.size() - kUnlockPrefix.size() - kCommandEnd.size());
        if (pin != config_.pin) {
            ++stats_.wrongPins;
            unlocked_ = false;
            return kWrongPinReply;
        }
        unlocked_ = true;
        return "<sy,bu = " + state + "/>";
    }
    if (command == "<SY,BE/>") {
        if (!unlocked_) return kLockedReply;
        enabled_ = true;
        return "<sy,be = ue/>";
    }
    if (command == "<SY,BR/>") {
        if (!unlocked_ || !enabled_) return kLockedReply;
        stats_.restartRequested = true;
        return "<sy,br/>";
    }
    return kUnknownCommandReply;
}
