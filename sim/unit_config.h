// What one simulated unit is and which faults it shows; filled from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FaultConfig {
    uint32_t seed = 1;
    double dropIncomingPercent = 0;
    double dropOutgoingPercent = 0;
    double corruptPercent = 0;
    uint32_t eraseDelayMs = 0;
    uint32_t programDelayMs = 0;
    // Now and then a write takes much longer (a flash page that needs a retry inside the unit).
    double slowProgramPercent = 0;
    uint32_t slowProgramMs = 0;
    // A slow write takes slowProgramMs to this, drawn anew each time (no more than slowProgramMs when lower).
    uint32_t slowProgramMaxMs = 0;
    bool silentBootloader = false;
    // "<SY,BR/>" is answered, but the unit restarts into its application, not its bootloader.
    bool restartIntoApplication = false;
    bool replyTwice = false;
    // The second copy of a reply comes this much later, drawn anew for each reply.
    uint32_t copyDelayMinMs = 0;
    uint32_t copyDelayMaxMs = 0;
    // The replies to the first-th to last-th command of this code (bit 7 ignored) are lost.
    struct LostReplies {
        uint8_t code;
        uint32_t first;
        uint32_t last;
    };
    std::vector<LostReplies> lostReplies;
    // 0 means never; otherwise the unit goes silent after this many bootloader commands.
    uint32_t vanishAfterCommands = 0;
};

struct UnitConfig {
    uint16_t bootloaderVersion = 0x0301;
    // The third byte of the version reply, which tells the updater that sequenced commands work.
    bool acceptsSequenced = true;
    uint8_t applicationMinor = 0;
    uint8_t applicationMajor = 1;
    std::string model = "ZT Series";
    std::string unitName = "ZT Unit";
    std::string macAddress = "00-1E-C0-00-00-01";
    std::string pin = "1234";
    bool bootloadEnabled = false;
    uint32_t restartDelayMs = 1000;
    bool startInBootload = false;
    bool carelessReplay = false;
    FaultConfig faults;
};
