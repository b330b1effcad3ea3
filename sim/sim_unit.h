// One simulated unit: its mode, its bootloader, command port and discovery responder, and the
// faults on its bootloader link. OS-free; a host feeds it received bytes and sends what it
// returns when each item falls due.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bootloader/frame_codec.h"
#include "sim/bootloader_unit.h"
#include "sim/command_port.h"
#include "sim/fault_injector.h"
#include "sim/unit_config.h"

enum class UnitMode { Application, Restarting, Bootload };

const char* unitModeName(UnitMode mode);

// Bytes to send no earlier than dueMs: one datagram on UDP, a run of bytes on serial.
struct Outgoing {
    uint64_t dueMs;
    std::vector<uint8_t> bytes;
};

struct LinkStats {
    uint64_t framesReceived = 0;
    uint64_t framesDroppedIncoming = 0;
    uint64_t repliesDroppedOutgoing = 0;
    uint64_t repliesCorrupted = 0;
    uint64_t framesIgnored = 0;  // silent bootloader, wrong mode, or a vanished unit
    uint64_t discoveryReplies = 0;
};

class SimUnit {
public:
    explicit SimUnit(const UnitConfig& config);

    // One UDP datagram to the bootloader port; a datagram carries one frame.
    std::vector<Outgoing> onBootloaderDatagram(const uint8_t* bytes, size_t count, uint64_t nowMs);
    // Bytes from the serial line: frames in bootload mode, command text in application mode.
    std::vector<Outgoing> onSerialBytes(const uint8_t* bytes, size_t count, uint64_t nowMs);
    // Text from one TCP command-port connection; `pending` is that connection's own buffer.
    std::vector<std::string> onCommandText(std::string& pending, const uint8_t* bytes, size_t count, uint64_t nowMs);
    // The reply datagram to a discovery request, or empty.
    std::string onDiscovery(const uint8_t* bytes, size_t count);

    // Completes a restart whose time has come.
    void tick(uint64_t nowMs);
    // The next time tick() has something to do, or UINT64_MAX.
    uint64_t nextEventMs() const;
    // While the bootloader is still busy with a command it reads no further input.
    bool busy(uint64_t nowMs) const { return nowMs < busyUntilMs_; }
    uint64_t busyUntilMs() const { return busyUntilMs_; }

    UnitMode mode() const { return mode_; }
    bool vanished() const { return vanished_; }
    bool commandPortOpen() const { return mode_ == UnitMode::Application && !vanished_; }
    bool closeReceived() const { return bootloader_.stats().closeReceived; }
    const BootloaderUnit& bootloader() const { return bootloader_; }
    const CommandPort& commandPort() const { return commandPort_; }
    const LinkStats& linkStats() const { return linkStats_; }

private:
    std::vector<Outgoing> handleFrame(const uint8_t* message, size_t length, uint64_t nowMs);
    // Where "<SY,BR/>" takes the unit: its bootloader, or with the fault its application again.
    UnitMode bootloadRestartTarget() const;
    void beginRestart(UnitMode target, uint64_t nowMs);
    bool isReplyLost(uint8_t code, uint32_t ordinal) const;

    const UnitConfig config_;
    BootloaderUnit bootloader_;
    CommandPort commandPort_;
    FaultInjector faults_;
    FrameDecoder serialDecoder_;
    std::string serialPending_;
    UnitMode mode_;
    UnitMode restartTarget_ = UnitMode::Application;
    uint64_t restartAtMs_ = 0;
    uint64_t busyUntilMs_ = 0;
    uint64_t commandsHandled_ = 0;
    // Commands handled, by code (bit 7 clear), for the lost-reply fault.
    uint32_t commandsOfCode_[128] = {};
    bool vanished_ = false;
    LinkStats linkStats_;
};
