// Mode changes, faults and framing around the bootloader and the command port.
#include "sim/sim_unit.h"

#include <algorithm>
#include <limits>

#include "bootloader/commands.h"
#include "sim/discovery_responder.h"

namespace {

constexpr size_t kFrameBodyLimit = 2 * kFrameBufferSize + 2;

}  // namespace

const char* unitModeName(UnitMode mode) {
    switch (mode) {
        case UnitMode::Application: return "application";
        case UnitMode::Restarting: return "restarting";
        case UnitMode::Bootload: return "bootload";
    }
    return "?";
}

SimUnit::SimUnit(const UnitConfig& config)
    : config_(config),
      bootloader_(config),
      commandPort_(config),
      faults_(config.faults),
      mode_(config.startInBootload ? UnitMode::Bootload : UnitMode::Application) {}

std::vector<Outgoing> SimUnit::onBootloaderDatagram(const uint8_t* bytes, size_t count, uint64_t nowMs) {
    // Each datagram stands alone: nothing of an earlier one carries over.
    FrameDecoder decoder;
    size_t offset = 0;
    while (offset < count) {
        offset += decoder.feed(bytes + offset, count - offset);
        if (decoder.frameComplete()) {
            return handleFrame(decoder.body(), decoder.count() - 2u, nowMs);
        }
    }
    return {};
}

std::vector<Outgoing> SimUnit::onSerialBytes(const uint8_t* bytes, size_t count, uint64_t nowMs) {
    std::vector<Outgoing> out;
    if (vanished_ || mode_ == UnitMode::Restarting) return out;
    if (mode_ == UnitMode::Application) {
        for (std::string& reply : commandPort_.feed(serialPending_, bytes, count)) {
            out.push_back({nowMs, std::vector<uint8_t>(reply.begin(), reply.end())});
        }
        if (commandPort_.restartRequested()) beginRestart(bootloadRestartTarget(), nowMs);
        return out;
    }
    size_t offset = 0;
    while (offset < count && mode_ == UnitMode::Bootload) {
        offset += serialDecoder_.feed(bytes + offset, count - offset);
        if (!serialDecoder_.frameComplete()) continue;
        serialDecoder_.clearFrameComplete();
        for (Outgoing& item : handleFrame(serialDecoder_.body(), serialDecoder_.count() - 2u, nowMs)) {
            out.push_back(std::move(item));
        }
    }
    return out;
}

std::vector<std::string> SimUnit::onCommandText(std::string& pending, const uint8_t* bytes, size_t count,
                                                uint64_t nowMs) {
    if (!commandPortOpen()) return {};
    std::vector<std::string> replies = commandPort_.feed(pending, bytes, count);
    if (commandPort_.restartRequested()) beginRestart(bootloadRestartTarget(), nowMs);
    return replies;
}

std::string SimUnit::onDiscovery(const uint8_t* bytes, size_t count) {
    if (vanished_ || mode_ == UnitMode::Restarting) return {};
    std::string reply = discoveryReply(config_, mode_ == UnitMode::Bootload, bytes, count);
    if (!reply.empty()) ++linkStats_.discoveryReplies;
    return reply;
}

std::vector<Outgoing> SimUnit::handleFrame(const uint8_t* message, size_t length, uint64_t nowMs) {
    ++linkStats_.framesReceived;
    if (vanished_ || mode_ != UnitMode::Bootload || config_.faults.silentBootloader) {
        ++linkStats_.framesIgnored;
        return {};
    }
    if (faults_.dropIncoming()) {
        ++linkStats_.framesDroppedIncoming;
        return {};
    }
    BootloaderOutcome outcome = bootloader_.handleMessage(message, length);
    const uint8_t code = message[0] & ~kSequencedBit;
    // A repeat is answered from the stored reply: no write, so no slow write either.
    const bool writes = code == codeOf(Command::kProgramRecords) || code == codeOf(Command::kProgramChunk);
    if (writes && !outcome.repeated) outcome.processingMs += faults_.extraProgramMs();
    ++commandsHandled_;
    const bool replyLost = isReplyLost(code, ++commandsOfCode_[code]);
    uint32_t limit = config_.faults.vanishAfterCommands;
    if (limit != 0 && commandsHandled_ >= limit) vanished_ = true;
    // A command that arrived while the unit was still busy is answered after the earlier one.
    uint64_t dueMs = std::max(nowMs, busyUntilMs_) + outcome.processingMs;
    busyUntilMs_ = dueMs;
    if (outcome.leaveBootload) beginRestart(UnitMode::Application, dueMs);

    std::vector<Outgoing> out;
    if (!outcome.reply) return out;
    if (replyLost) {
        ++linkStats_.repliesDroppedOutgoing;
        return out;
    }
    std::vector<uint8_t> frame(kFrameBodyLimit);
    frame.resize(encodeFrame(outcome.message.data(), outcome.message.size(), frame.data(), frame.size()));
    int copies = config_.faults.replyTwice ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        if (faults_.dropOutgoing()) {
            ++linkStats_.repliesDroppedOutgoing;
            continue;
        }
        std::vector<uint8_t> copy = frame;
        if (faults_.maybeCorrupt(copy)) ++linkStats_.repliesCorrupted;
        out.push_back({i == 0 ? dueMs : dueMs + faults_.copyDelayMs(), std::move(copy)});
    }
    return out;
}

bool SimUnit::isReplyLost(uint8_t code, uint32_t ordinal) const {
    for (const FaultConfig::LostReplies& lost : config_.faults.lostReplies) {
        if (lost.code == code && ordinal >= lost.first && ordinal <= lost.last) return true;
    }
    return false;
}

UnitMode SimUnit::bootloadRestartTarget() const {
    return config_.faults.restartIntoApplication ? UnitMode::Application : UnitMode::Bootload;
}

void SimUnit::beginRestart(UnitMode target, uint64_t nowMs) {
    mode_ = UnitMode::Restarting;
    restartTarget_ = target;
    restartAtMs_ = nowMs + config_.restartDelayMs;
}

void SimUnit::tick(uint64_t nowMs) {
    if (mode_ != UnitMode::Restarting || nowMs < restartAtMs_) return;
    mode_ = restartTarget_;
    serialDecoder_.reset();
    serialPending_.clear();
    commandPort_.restart();
}

uint64_t SimUnit::nextEventMs() const {
    return mode_ == UnitMode::Restarting ? restartAtMs_ : std::numeric_limits<uint64_t>::max();
}
