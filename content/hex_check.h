// Strict checks of outside image files before anything is sent to a unit. The embedded image
// is trusted as built; a file from the command line must be well formed line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class HexProblem {
    kNone,
    kSyntax,     // no leading ':', an odd number of digits, a non-hex character
    kByteCount,  // the count byte disagrees with the line, or the type needs another count
    kChecksum,
    kRecordType,  // not 00 to 05
    kTooLong,     // more bytes than the updater can hold for one record
    kNoEndRecord,
    kDataAfterEnd,
    kEmptyImage,
    kNoDataRecords,    // not one data byte: the update would erase the unit and write nothing
    kBeyondAddresses,  // a flash image whose chunks would run past the last 32-bit address
    kHexTextAsFlash,   // Intel HEX text given as the flash image
};

// One run of consecutive data bytes in the unit's address space.
struct AddressRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

struct HexCheckResult {
    HexProblem problem = HexProblem::kNone;
    // 1-based line of the problem; 0 for a problem of the whole file.
    uint32_t line = 0;
    // Every record the update would send (end record included), and the data records among them.
    uint32_t records = 0;
    uint32_t dataRecords = 0;
    uint64_t dataBytes = 0;
    // Merged in file order: a record that continues the previous range extends it.
    std::vector<AddressRange> ranges;
};

// Checks Intel HEX text: every line's syntax, byte count, checksum and record type, at least
// one data record, an end record present and nothing but blank lines after it. Lines end at
// CR, LF or CR LF; blank lines are skipped. True when the text passes (and then CHexManager
// loads these bytes record for record); otherwise result names the first problem.
bool checkHexText(const uint8_t* text, size_t size, HexCheckResult& result);

// A flash image placed at origin: at least one byte, every chunk address within 32 bits, and
// not Intel HEX text (its first line a valid record), which is an application image.
bool checkFlashImage(const uint8_t* data, size_t size, uint32_t origin, HexCheckResult& result);

// A short English reason, e.g. "checksum mismatch".
const char* hexProblemText(HexProblem problem);
