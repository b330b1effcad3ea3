// The application image: Intel HEX text decoded line by line into byte records, handed out in
// file order. Records are not interpreted: checksum, count, type and address go as they stand.
#pragma once

#include <cstdint>
#include <vector>

#include "content/loadable_text.h"

// Loaded on the main thread at start-up; afterwards one update thread at a time reads it.
class CHexManager : public LoadableText {
public:
    // Most bytes one line may decode to; a longer line fails the load.
    static constexpr uint16_t kMaxRecordBytes = 256;

    CHexManager() = default;
    ~CHexManager() override = default;

    // The embedded item of type "HEX", read as a file is (the last line counts without a line
    // end), so it loads exactly the lines the HEX check sees. A failed load leaves it empty.
    int loadApplication(const wchar_t* name);
    // Empties the image; cursor back to "not rewound". Always 1.
    int reset() override;
    // Appends the record of one line: the colon is skipped, pairs of hex digits make the bytes
    // and a last single digit is dropped. 0 (load fails) for a pair that is not two hex digits
    // or a line of more than 256 bytes; a line of no complete pair makes no record.
    int parseLine(const wchar_t* line) override;

    // Hands out the records from the first again. Always 1.
    int rewind();
    // Copies the next record into destination and returns its length; 0 before the first
    // rewind, after the last record, or when capacity is too small (the cursor then stays).
    uint16_t nextRecord(uint8_t* destination, uint16_t capacity);

    uint32_t recordCount() const { return recordCount_; }
    uint32_t recordsHandedOut() const { return recordsHandedOut_; }
    // Bytes the decoded image occupies, arena included, for memory figures.
    size_t storageBytes() const { return arena_.capacity(); }
    // Sum of the record lengths.
    size_t recordBytes() const { return recordBytes_; }

protected:
    void expectTextBytes(size_t textBytes) override;

private:
    static constexpr size_t kNotRewound = SIZE_MAX;

    void appendRecord(const uint8_t* bytes, uint16_t length);

    // Every record as one byte holding (length - 1) followed by its bytes, in file order.
    std::vector<uint8_t> arena_;
    size_t cursor_ = kNotRewound;
    uint32_t recordCount_ = 0;
    uint32_t recordsHandedOut_ = 0;
    size_t recordBytes_ = 0;
};
