// The bootloader's command set.
//
// A message is the command byte, then (sequenced form only) a 4-byte sequence number, most
// significant byte first, then the command's payload; a reply repeats the command byte and the
// sequence number. The command byte is the code (1 to 13) in bits 0-6; bit 7 selects the
// sequenced form, which a unit accepts when its identification reply carries a third byte.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Command : uint8_t {
    kIdentify = 1,            // reply: version major, minor [, a byte: sequenced form accepted]
    kEraseApplication = 2,    // reply: ack
    kProgramRecords = 3,      // payload: whole HEX records back to back; reply byte 1: 1 = stored
    kClose = 4,               // the update's last command; no reply awaited
    kEraseImage = 5,          // reply: ack
    kProgramChunk = 6,        // payload: a chunk block (below); reply byte 1: 1 = stored
    kEndImage = 7,            // reply: ack
    kWriteVersion = 8,        // payload: minor, 0, major, 0 (two 16-bit numbers, LSB first); ack
    kApplicationVersion = 9,  // reply: minor, major as 16-bit numbers, LSB first
    kSetName = 10,            // payload: a NUL-terminated text; not sent by the updater
    kLeave = 11,              // leave bootload mode; no reply awaited
    kFactoryDefaults = 12,    // reply: ack
    kIdentifyText = 13,       // reply: text lines separated by CR LF
};

constexpr uint8_t kSequencedBit = 0x80;
constexpr uint8_t kFirstCommandCode = 1;
constexpr uint8_t kLastCommandCode = 13;

constexpr uint8_t codeOf(Command command) { return static_cast<uint8_t>(command); }
constexpr uint8_t commandByte(Command command, bool sequenced) {
    return static_cast<uint8_t>(codeOf(command) | (sequenced ? kSequencedBit : 0));
}

// An ack is the command byte, a status byte (1: success) and the CRC.
constexpr uint16_t kAckReplyLength = 1 + 1 + 2;
constexpr uint8_t kStatusSuccess = 1;

// The identification reply: command byte, version major and minor, the CRC; a sixth byte says
// the unit takes sequenced commands.
constexpr uint16_t kPlainIdentificationLength = 1 + 2 + 2;
constexpr uint16_t kSequencedIdentificationLength = kPlainIdentificationLength + 1;

// A sequenced reply is at least its command byte, the 4-byte sequence number and the CRC.
constexpr size_t kSequenceBytes = 4;
constexpr uint16_t kShortestSequencedReply = 1 + kSequenceBytes + 2;

// Chunk block: position (4 bytes), data length (4 bytes), both least significant byte first,
// then 64 data bytes, zero-filled past the length.
constexpr size_t kChunkPositionOffset = 0;
constexpr size_t kChunkLengthOffset = 4;
constexpr size_t kChunkDataOffset = 4 + 4;
constexpr uint16_t kChunkDataBytes = 64;
constexpr size_t kChunkBlockBytes = 4 + 4 + kChunkDataBytes;

// How each command is sent: sends and the resend interval. `forced` rows override whatever a
// caller asks (the closing command goes once and waits 10 ms; the leave command goes once).
struct CommandTiming {
    Command command;
    uint16_t attempts;
    uint16_t timeoutMs;
    bool forcedAttempts;
    bool forcedTimeout;
};

constexpr CommandTiming kCommandTimings[] = {
    {Command::kIdentify, 5, 1000, false, false},
    {Command::kEraseApplication, 5, 10000, false, false},
    {Command::kProgramRecords, 5, 1000, false, false},
    {Command::kClose, 1, 10, true, true},
    {Command::kEraseImage, 2, 10000, false, false},
    {Command::kProgramChunk, 5, 1000, false, false},
    {Command::kEndImage, 5, 1000, false, false},
    {Command::kWriteVersion, 5, 1000, false, false},
    {Command::kApplicationVersion, 5, 1000, false, false},
    {Command::kSetName, 1, 1000, false, false},
    {Command::kLeave, 1, 1000, true, false},
    {Command::kFactoryDefaults, 2, 5000, false, false},
    {Command::kIdentifyText, 5, 500, false, false},
};

// The table is read by code, so its rows must stand in code order.
constexpr bool timingsInCodeOrder() {
    uint8_t code = kFirstCommandCode;
    for (const CommandTiming& timing : kCommandTimings) {
        if (codeOf(timing.command) != code++) return false;
    }
    return code == kLastCommandCode + 1;
}
static_assert(timingsInCodeOrder());

constexpr const CommandTiming& timingOf(Command command) {
    return kCommandTimings[codeOf(command) - kFirstCommandCode];
}

// The identifications are always sent plain, and each one starts the engine's reply guard anew.
constexpr bool isIdentification(uint8_t code) {
    return code == codeOf(Command::kIdentify) || code == codeOf(Command::kIdentifyText);
}
// A query changes nothing in the unit, so every send of a repeated one is answered alike.
constexpr bool isQuery(uint8_t code) { return isIdentification(code) || code == codeOf(Command::kApplicationVersion); }

// The state queries (identification and application version from the request worker) wait
// half as long between sends as an update does.
constexpr uint16_t kQueryTimeoutMs = 500;
