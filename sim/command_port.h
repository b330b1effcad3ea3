// The application's text command port: "<SY,..../>" commands in, "<sy,... >" replies out.
//
// Commands may arrive split over reads, followed by CR LF (TCP) or bare (serial); bytes
// outside "<" ... "/>" are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/unit_config.h"

constexpr char kWrongPinReply[] = "<sy,bu = pin/>";
constexpr char kLockedReply[] = "<sy,err = locked/>";
constexpr char kUnknownCommandReply[] = "<sy,err = cmd/>";

struct CommandPortStats {
    uint64_t commands = 0;
    uint64_t wrongPins = 0;
    bool restartRequested = false;
};

class CommandPort {
public:
    explicit CommandPort(const UnitConfig& config);

    // Feeds bytes received on one link; `pending` holds that link's half-received command
    // between calls. Returns the replies to send, in order. After "<SY,BR/>" has been
    // answered, restartRequested() is true and later input is ignored.
    std::vector<std::string> feed(std::string& pending, const uint8_t* bytes, size_t count);
    // A restart forgets the unlock; the enabled state stays as the unit stored it.
    void restart();

    bool restartRequested() const { return stats_.restartRequested; }
    bool bootloadEnabled() const { return enabled_; }
    const CommandPortStats& stats() const { return stats_; }

private:
    std::string answer(const std::string& command);

    const UnitConfig config_;
    bool unlocked_ = false;
    bool enabled_;
    CommandPortStats stats_;
};
