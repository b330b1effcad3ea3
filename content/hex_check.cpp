// Line-by-line Intel HEX checks for outside files.
#include "content/hex_check.h"

#include "content/hex_manager.h"
#include "content/hex_record.h"

namespace {

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The data count each non-data type must carry.
bool countFitsType(uint8_t type, uint8_t count) {
    switch (type) {
        case kDataRecord: return true;
        case kEndOfFileRecord: return count == 0;
        case kExtendedSegmentRecord:
        case kExtendedLinearRecord: return count == 2;
        case kStartSegmentRecord:
        case kStartLinearRecord: return count == 4;
    }
    return false;
}

class HexWalker {
public:
    explicit HexWalker(HexCheckResult& result) : result_(result) {}

    bool line(const uint8_t* text, size_t length, uint32_t number);
    bool finish();

private:
    bool fail(HexProblem problem, uint32_t number) {
        result_.problem = problem;
        result_.line = number;
        return false;
    }
    bool decode(const uint8_t* text, size_t length, uint32_t number);
    void addData(uint32_t offset, uint8_t count);

    HexCheckResult& result_;
    std::vector<uint8_t> bytes_;
    uint32_t base_ = 0;
    bool ended_ = false;
};

bool HexWalker::decode(const uint8_t* text, size_t length, uint32_t number) {
    if (text[0] != ':' || (length - 1) % 2 != 0) return fail(HexProblem::kSyntax, number);
    bytes_.clear();
    for (size_t i = 1; i + 1 < length; i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return fail(HexProblem::kSyntax, number);
        bytes_.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    if (bytes_.size() < kRecordOverhead) return fail(HexProblem::kByteCount, number);
    if (bytes_.size() > CHexManager::kMaxRecordBytes) return fail(HexProblem::kTooLong, number);
    return true;
}

void HexWalker::addData(uint32_t offset, uint8_t count) {
    if (count == 0) return;
    const uint32_t first = base_ + offset;
    const uint32_t last = first + count - 1;
    if (!result_.ranges.empty() && result_.ranges.back().last + 1 == first) {
        result_.ranges.back().last = last;
    } else {
        result_.ranges.push_back({first, last});
    }
    result_.dataBytes += count;
}

bool HexWalker::line(const uint8_t* text, size_t length, uint32_t number) {
    if (ended_) return fail(HexProblem::kDataAfterEnd, number);
    if (!decode(text, length, number)) return false;
    const uint8_t count = bytes_[kRecordCountOffset];
    const uint8_t type = bytes_[kRecordTypeOffset];
    if (bytes_.size() != count + kRecordOverhead) return fail(HexProblem::kByteCount, number);
    uint8_t sum = 0;
    for (uint8_t b : bytes_) sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) return fail(HexProblem::kChecksum, number);
    if (type > kStartLinearRecord) return fail(HexProblem::kRecordType, number);
    if (!countFitsType(type, count)) return fail(HexProblem::kByteCount, number);

    ++result_.records;
    const uint8_t* data = bytes_.data() + kRecordDataOffset;
    const uint32_t value = count >= 2 ? static_cast<uint32_t>(data[0] << 8 | data[1]) : 0;
    switch (type) {
        case kDataRecord:
            ++result_.dataRecords;
            addData(static_cast<uint32_t>(bytes_[kRecordAddressOffset] << 8 | bytes_[kRecordAddressOffset + 1]), count);
            break;
        case kEndOfFileRecord: ended_ = true; break;
        case kExtendedSegmentRecord: base_ = value << 4; break;
        case kExtendedLinearRecord: base_ = value << 16; break;
        default: break;
    }
    return true;
}

bool HexWalker::finish() {
    if (!ended_) return fail(HexProblem::kNoEndRecord, 0);
    if (result_.dataBytes == 0) return fail(HexProblem::kNoDataRecords, 0);
    return true;
}

// Only the first line is looked at, and no further than the longest record's text.
bool startsWithHexRecord(const uint8_t* data, size_t size) {
    const size_t longestLine = 1 + 2 * size_t{CHexManager::kMaxRecordBytes};
    size_t end = 0;
    while (end < size && end <= longestLine && data[end] != '\r' && data[end] != '\n') ++end;
    if (end == 0 || end > longestLine) return false;
    HexCheckResult ignored;
    return HexWalker(ignored).line(data, end, 1);
}

}  // namespace

bool checkHexText(const uint8_t* text, size_t size, HexCheckResult& result) {
    result = HexCheckResult{};
    HexWalker walker(result);
    uint32_t number = 1;
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && text[end] != '\r' && text[end] != '\n') ++end;
        if (end > start && !walker.line(text + start, end - start, number)) return false;
        // CR LF is one line end; a lone CR or LF is one too.
        if (end < size && text[end] == '\r' && end + 1 < size && text[end + 1] == '\n') ++end;
        start = end + 1;
        ++number;
    }
    return walker.finish();
}

bool checkFlashImage(const uint8_t* data, size_t size, uint32_t origin, HexCheckResult& result) {
    result = HexCheckResult{};
    constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
    if (size == 0) {
        result.problem = HexProblem::kEmptyImage;
    } else if (origin + static_cast<uint64_t>(size) > kAddressSpace) {
        result.problem = HexProblem::kBeyondAddresses;
    } else if (startsWithHexRecord(data, size)) {
        result.problem = HexProblem::kHexTextAsFlash;
    }
    return result.problem == HexProblem::kNone;
}

const char* hexProblemText(HexProblem problem) {
    switch (problem) {
        case HexProblem::kNone: return "no problem";
        case HexProblem::kSyntax: return "not a record: ':' and pairs of hex digits expected";
        case HexProblem::kByteCount: return "byte count does not match the record";
        case HexProblem::kChecksum: return "checksum mismatch";
        case HexProblem::kRecordType: return "unknown record type";
        case HexProblem::kTooLong: return "record longer than 256 bytes";
        case HexProblem::kNoEndRecord: return "no end-of-file record";
        case HexProblem::kDataAfterEnd: return "data after the end-of-file record";
        case HexProblem::kEmptyImage: return "the image is empty";
        case HexProblem::kNoDataRecords: return "no data records: the update would erase the unit and write nothing";
        case HexProblem::kBeyondAddresses: return "too large: its chunks would run past the last 32-bit address";
        case HexProblem::kHexTextAsFlash: return "Intel HEX text, not a web-content image (give it with --hex)";
    }
    return "unknown problem";
}
