// Command execution of the simulated bootloader.
#include "sim/bootloader_unit.h"

#include <algorithm>
#include <cstdio>

#include "bootloader/byte_order.h"
#include "bootloader/commands.h"

namespace {

constexpr size_t kSequencedHeader = 5;
constexpr uint8_t kStatusOk = 1;
constexpr uint8_t kStatusFailed = 0;

const char* commandName(uint8_t code) {
    static const char* const kNames[] = {"",
                                         "version",
                                         "application_erase",
                                         "record_program",
                                         "close",
                                         "image_erase",
                                         "chunk_program",
                                         "image_end",
                                         "version_write",
                                         "application_version",
                                         "text_write",
                                         "leave_bootload",
                                         "factory_defaults",
                                         "identification"};
    return code >= kFirstCommandCode && code <= kLastCommandCode ? kNames[code] : "";
}

std::string hexByte(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

BootloaderOutcome statusReply(uint8_t status, uint32_t processingMs = 0) {
    BootloaderOutcome outcome;
    outcome.reply = true;
    outcome.message = {status};
    outcome.processingMs = processingMs;
    return outcome;
}

}  // namespace

BootloaderUnit::BootloaderUnit(const UnitConfig& config)
    : config_(config), records_(application_), minor_(config.applicationMinor), major_(config.applicationMajor) {}

void BootloaderUnit::noteAnomaly(const std::string& text) {
    ++stats_.anomalyCount;
    if (stats_.anomalies.size() < kMaxAnomalies) stats_.anomalies.push_back(text);
}

BootloaderOutcome BootloaderUnit::handleMessage(const uint8_t* message, size_t length) {
    uint8_t command = message[0];
    uint8_t code = command & ~kSequencedBit;
    bool sequenced = (command & kSequencedBit) != 0;
    if (code < kFirstCommandCode || code > kLastCommandCode) {
        noteAnomaly("unknown command " + hexByte(command));
        return {};
    }
    if (sequenced && !config_.acceptsSequenced) {
        noteAnomaly("sequenced command " + hexByte(command) + " to a bootloader without them");
        return {};
    }
    if (sequenced && length < kSequencedHeader) {
        noteAnomaly("command " + hexByte(command) + " without its sequence number");
        return {};
    }
    ++stats_.commandCounts[commandName(code)];

    std::vector<uint8_t> whole(message, message + length);
    uint32_t sequence = sequenced ? get32MsbFirst(message + 1) : 0;
    if (sequenced && haveLastSequenced_ && whole == lastSequenced_) {
        ++stats_.duplicates;
        BootloaderOutcome again = lastSequencedOutcome_;
        again.processingMs = 0;
        again.repeated = true;
        again.leaveBootload = false;
        again.close = false;
        return again;
    }
    if (sequenced && code != codeOf(Command::kIdentify)) checkSequence(sequence, whole);

    const size_t header = sequenced ? kSequencedHeader : 1;
    BootloaderOutcome outcome = execute(whole, header);
    if (outcome.reply) outcome.message.insert(outcome.message.begin(), message, message + header);

    if (code == codeOf(Command::kIdentify)) {
        // A new identification starts a new conversation: nothing before it can be repeated.
        haveLastSequenced_ = false;
        lastRecordRequest_.clear();
        expectedSequence_ = sequenced ? sequence + 1 : 1;
        sequenceKnown_ = true;
    } else if (sequenced) {
        haveLastSequenced_ = true;
        lastSequenced_ = std::move(whole);
        lastSequencedOutcome_ = outcome;
    }
    return outcome;
}

void BootloaderUnit::checkSequence(uint32_t sequence, const std::vector<uint8_t>& message) {
    bool reused = haveLastSequenced_ && get32MsbFirst(lastSequenced_.data() + 1) == sequence;
    if (reused) {
        noteAnomaly("sequence " + std::to_string(sequence) + " reused with other content (" + hexByte(message[0]) +
                    ")");
    } else if (sequenceKnown_ && sequence != expectedSequence_) {
        noteAnomaly("sequence " + std::to_string(sequence) + " where " + std::to_string(expectedSequence_) +
                    " was expected");
    }
    expectedSequence_ = sequence + 1 == 0 ? 1 : sequence + 1;
    sequenceKnown_ = true;
}

BootloaderOutcome BootloaderUnit::execute(const std::vector<uint8_t>& request, size_t header) {
    const FaultConfig& faults = config_.faults;
    const uint8_t* payload = request.data() + header;
    const size_t length = request.size() - header;
    switch (static_cast<Command>(request[0] & ~kSequencedBit)) {
        case Command::kIdentify: {
            BootloaderOutcome outcome = statusReply(static_cast<uint8_t>(config_.bootloaderVersion >> 8));
            outcome.message.push_back(static_cast<uint8_t>(config_.bootloaderVersion & 0xFF));
            if (config_.acceptsSequenced) outcome.message.push_back(0x01);
            return outcome;
        }
        case Command::kEraseApplication:
            application_.clear();
            records_.restart();
            applicationErased_ = true;
            return statusReply(kStatusOk, faults.eraseDelayMs);
        case Command::kClose: {
            stats_.closeReceived = true;
            BootloaderOutcome outcome;
            outcome.close = true;
            return outcome;
        }
        case Command::kEraseImage:
            flash_.clear();
            flashErased_ = true;
            return statusReply(kStatusOk, faults.eraseDelayMs);
        case Command::kProgramRecords: return programRecords(request, payload, length);
        case Command::kProgramChunk: return programChunk(payload, length);
        case Command::kEndImage:
            if (!flashErased_) noteAnomaly("image end without an image erase");
            return statusReply(kStatusOk);
        case Command::kWriteVersion:
            if (length < 4) {
                noteAnomaly("version write with " + std::to_string(length) + " payload bytes");
                return statusReply(kStatusFailed);
            }
            minor_ = payload[0];
            major_ = payload[2];
            stats_.versionWritten = true;
            return statusReply(kStatusOk);
        case Command::kApplicationVersion: {
            BootloaderOutcome outcome = statusReply(minor_);
            outcome.message.insert(outcome.message.end(), {0x00, major_, 0x00});
            return outcome;
        }
        case Command::kSetName:
        case Command::kFactoryDefaults: return statusReply(kStatusOk);
        case Command::kLeave: {
            stats_.leaveReceived = true;
            BootloaderOutcome outcome;
            outcome.leaveBootload = true;
            return outcome;
        }
        case Command::kIdentifyText: {
            std::string text =
                config_.unitName + "\r\n" + config_.macAddress + "\r\nTavin " + config_.model + " - Bootload\r\n";
            BootloaderOutcome outcome;
            outcome.reply = true;
            outcome.message.assign(text.begin(), text.end());
            return outcome;
        }
    }
    return {};
}

BootloaderOutcome BootloaderUnit::programRecords(const std::vector<uint8_t>& request, const uint8_t* payload,
                                                 size_t length) {
    if (!lastRecordRequest_.empty() && request == lastRecordRequest_) {
        ++stats_.replays;
        // A careful unit runs the repeat from the base the first run began with; a careless
        // one keeps the base that a type-04 record inside the request left behind.
        if (!config_.carelessReplay) records_.setBase(lastRecordBase_);
    }
    lastRecordRequest_ = request;
    lastRecordBase_ = records_.base();
    if (!applicationErased_) {
        noteAnomaly("records programmed before an application erase");
        applicationErased_ = true;
    }

    uint8_t status = length == 0 ? kStatusFailed : kStatusOk;
    if (length == 0) noteAnomaly("record program request without records");
    size_t conflictsBefore = records_.conflicts();
    size_t offset = 0;
    while (offset < length && !records_.endSeen()) {
        size_t used = 0;
        RecordResult result = records_.apply(payload + offset, length - offset, used);
        if (result != RecordResult::Ok) {
            noteAnomaly(std::string(recordResultName(result)) + " at request offset " + std::to_string(offset));
            status = kStatusFailed;
            break;
        }
        offset += used;
        ++stats_.recordsProgrammed;
    }
    size_t conflicts = records_.conflicts() - conflictsBefore;
    if (conflicts > 0) {
        noteAnomaly(std::to_string(conflicts) + " application bytes overwritten with other values");
    }
    return statusReply(status, config_.faults.programDelayMs);
}

BootloaderOutcome BootloaderUnit::programChunk(const uint8_t* payload, size_t length) {
    if (length != kChunkBlockBytes) {
        noteAnomaly("chunk request of " + std::to_string(length) + " bytes");
        return statusReply(kStatusFailed);
    }
    uint32_t address = get32LsbFirst(payload);
    uint32_t count = get32LsbFirst(payload + 4);
    if (count > kChunkDataBytes) {
        noteAnomaly("chunk length " + std::to_string(count));
        return statusReply(kStatusFailed);
    }
    if (!flashErased_) {
        noteAnomaly("chunk programmed before an image erase");
        flashErased_ = true;
    }
    size_t conflicts = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!flash_.write(address + i, payload[8 + i])) ++conflicts;
    }
    stats_.chunkBytesProgrammed += count;
    if (conflicts > 0) {
        noteAnomaly(std::to_string(conflicts) + " flash bytes overwritten with other values");
    }
    return statusReply(kStatusOk, config_.faults.programDelayMs);
}
