// Each command: its payload, its timing from the table, the reply it needs.
#include "bootloader/bootloader_commands.h"

#include "bootloader/byte_order.h"

namespace {
// Command byte, minor and major (16 bits each) and the CRC.
constexpr uint16_t kApplicationVersionLength = 1 + 4 + 2;
// The version write's payload: minor, then major, 16 bits each.
constexpr size_t kVersionPayloadBytes = 2 + 2;
// Command byte and the CRC around the identification text.
constexpr uint16_t kTextReplyOverhead = 3;
}  // namespace

bool BootloaderCommands::send(Command command, const uint8_t* data, uint32_t length) {
    const CommandTiming& timing = timingOf(command);
    return send(command, data, length, timing.attempts, timing.timeoutMs);
}

// A stopped run sends nothing more; a plain reply in doubt fails the command it answered.
bool BootloaderCommands::send(Command command, const uint8_t* data, uint32_t length, uint16_t attempts,
                              uint16_t timeoutMs) {
    if (stop_ && stop_->load()) stopped_ = true;
    if (stopped_) return false;
    const bool sequenced = sequenced_ && !isIdentification(codeOf(command));
    const bool accepted = engine_.transact(commandByte(command, sequenced), data, length, attempts, timeoutMs);
    return accepted && !engine_.repliesInDoubt();
}

// An ack says success by its status byte; a longer reply to an acked command counts as one.
bool BootloaderCommands::acked() const {
    return engine_.replyLength() != kAckReplyLength || engine_.replyData()[1] == kStatusSuccess;
}

bool BootloaderCommands::stored() const {
    return engine_.replyLength() >= 2 && engine_.replyData()[1] == kStatusSuccess;
}

Identification BootloaderCommands::identify(uint16_t timeoutMs, uint16_t attempts) {
    Identification identification;
    identification.answered = send(Command::kIdentify, nullptr, 0, attempts, timeoutMs);
    if (!identification.answered) return identification;
    identification.replyLength = engine_.replyLength();
    if (identification.replyLength >= kPlainIdentificationLength) {
        identification.version = get16MsbFirst(engine_.replyData() + 1);
    }
    identification.acceptsSequenced = identification.replyLength == kSequencedIdentificationLength;
    return identification;
}

bool BootloaderCommands::applicationVersion(uint32_t& version, uint16_t timeoutMs) {
    const CommandTiming& timing = timingOf(Command::kApplicationVersion);
    if (!send(Command::kApplicationVersion, nullptr, 0, timing.attempts, timeoutMs)) return false;
    if (engine_.replyLength() < kApplicationVersionLength) return false;
    const uint8_t* reply = engine_.replyData() + 1;
    version = uint32_t{get16LsbFirst(reply + 2)} << 16 | get16LsbFirst(reply);
    return true;
}

bool BootloaderCommands::eraseApplication() { return send(Command::kEraseApplication, nullptr, 0) && acked(); }

bool BootloaderCommands::programRecords(const uint8_t* records, uint32_t length) {
    return send(Command::kProgramRecords, records, length) && stored();
}

// Minor and major as two 16-bit numbers, least significant byte first.
bool BootloaderCommands::writeVersion(uint8_t minor, uint8_t major) {
    uint8_t version[kVersionPayloadBytes] = {};
    put16LsbFirst(version, minor);
    put16LsbFirst(version + 2, major);
    return send(Command::kWriteVersion, version, sizeof version) && acked();
}

bool BootloaderCommands::eraseImage() { return send(Command::kEraseImage, nullptr, 0) && acked(); }

bool BootloaderCommands::programChunk(uint32_t position, const uint8_t* data, uint16_t length) {
    uint8_t block[kChunkBlockBytes] = {};
    put32LsbFirst(block + kChunkPositionOffset, position);
    put32LsbFirst(block + kChunkLengthOffset, length);
    for (uint16_t i = 0; i < length && i < kChunkDataBytes; ++i) block[kChunkDataOffset + i] = data[i];
    return send(Command::kProgramChunk, block, sizeof block) && stored();
}

bool BootloaderCommands::endImage() { return send(Command::kEndImage, nullptr, 0) && acked(); }

bool BootloaderCommands::factoryDefaults() { return send(Command::kFactoryDefaults, nullptr, 0) && acked(); }

void BootloaderCommands::close() { send(Command::kClose, nullptr, 0); }

void BootloaderCommands::leave() { send(Command::kLeave, nullptr, 0); }

bool BootloaderCommands::identifyText(uint16_t attempts, uint16_t timeoutMs, const uint8_t*& text, uint16_t& length) {
    if (!send(Command::kIdentifyText, nullptr, 0, attempts, timeoutMs)) return false;
    if (engine_.replyLength() < kTextReplyOverhead) return false;
    text = engine_.replyData() + 1;
    length = static_cast<uint16_t>(engine_.replyLength() - kTextReplyOverhead);
    return true;
}
