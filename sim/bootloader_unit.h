// The unit's bootloader: executes one decoded command message and says what to answer.
//
// Messages are the frame body without its CRC: command byte, a 4-byte big-endian sequence
// number when bit 7 is set, then the payload. Replies repeat the command byte and sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/intel_hex.h"
#include "sim/sparse_memory.h"
#include "sim/unit_config.h"

constexpr uint32_t kFlashOrigin = 0x40000;

// What the bootloader saw, for the report.
struct BootloaderStats {
    std::map<std::string, uint64_t> commandCounts;
    uint64_t duplicates = 0;
    uint64_t replays = 0;
    uint64_t anomalyCount = 0;
    std::vector<std::string> anomalies;  // the first kMaxAnomalies, in order
    // Records and flash bytes programmed: the count an updater's progress bar goes by.
    uint64_t recordsProgrammed = 0;
    uint64_t chunkBytesProgrammed = 0;
    bool closeReceived = false;
    bool leaveReceived = false;
    bool versionWritten = false;
};

struct BootloaderOutcome {
    bool reply = false;
    std::vector<uint8_t> message;  // the reply message, CRC not yet added
    uint32_t processingMs = 0;     // flash timing the unit spends before it answers
    bool repeated = false;         // a sequenced request sent again, answered from the stored reply
    bool leaveBootload = false;
    bool close = false;
};

class BootloaderUnit {
public:
    static constexpr size_t kMaxAnomalies = 100;

    explicit BootloaderUnit(const UnitConfig& config);

    BootloaderOutcome handleMessage(const uint8_t* message, size_t length);

    const SparseMemory& applicationMemory() const { return application_; }
    const SparseMemory& flashMemory() const { return flash_; }
    uint8_t applicationMinor() const { return minor_; }
    uint8_t applicationMajor() const { return major_; }
    const BootloaderStats& stats() const { return stats_; }
    void noteAnomaly(const std::string& text);

private:
    // `request` is the whole message; its payload starts at `header`.
    BootloaderOutcome execute(const std::vector<uint8_t>& request, size_t header);
    BootloaderOutcome programRecords(const std::vector<uint8_t>& request, const uint8_t* payload, size_t length);
    BootloaderOutcome programChunk(const uint8_t* payload, size_t length);
    void checkSequence(uint32_t sequence, const std::vector<uint8_t>& message);

    const UnitConfig config_;
    SparseMemory application_;
    SparseMemory flash_;
    HexRecordWriter records_;
    uint8_t minor_;
    uint8_t major_;
    bool applicationErased_ = false;
    bool flashErased_ = false;
    BootloaderStats stats_;

    // Duplicate detection: the last executed sequenced message and what it was answered.
    bool haveLastSequenced_ = false;
    std::vector<uint8_t> lastSequenced_;
    BootloaderOutcome lastSequencedOutcome_;
    uint32_t expectedSequence_ = 1;
    bool sequenceKnown_ = false;

    // Replay of a plain record request: the previous request and the base it started from.
    std::vector<uint8_t> lastRecordRequest_;
    uint32_t lastRecordBase_ = 0;
};
