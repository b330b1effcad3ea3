// The unit's own reading and writing of Intel HEX records: raw records as the bootloader
// receives them (the layout of content/hex_record.h), and HEX text for dumps and checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "content/hex_record.h"
#include "sim/sparse_memory.h"

enum class RecordResult { Ok, Truncated, BadChecksum, BadLength, UnknownType };

const char* recordResultName(RecordResult result);

// Follows a stream of raw records into memory, keeping the extended address between calls.
class HexRecordWriter {
public:
    explicit HexRecordWriter(SparseMemory& memory) : memory_(memory) {}

    // Applies the record that starts at `bytes`; sets `used` to its size when the record is
    // whole. Data records are written only when their checksum holds.
    RecordResult apply(const uint8_t* bytes, size_t available, size_t& used);

    uint32_t base() const { return base_; }
    void setBase(uint32_t base) { base_ = base; }
    bool endSeen() const { return endSeen_; }
    void restart();
    // Bytes that replaced an earlier, different value.
    size_t conflicts() const { return conflicts_; }

private:
    SparseMemory& memory_;
    uint32_t base_ = 0;
    bool endSeen_ = false;
    size_t conflicts_ = 0;
};

// Reads HEX text (":" lines, any line ends) into memory. Returns false with a message on the
// first malformed line.
bool loadHexText(const std::string& text, SparseMemory& memory, std::string& error);

// Writes memory as HEX text: 16 data bytes a record at most, an extended linear address record
// whenever the upper address word changes, the end record last, CR LF line ends.
std::string formatHexText(const SparseMemory& memory);
