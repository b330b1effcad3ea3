// Prints the memory the embedded application image describes, as "address length bytes" lines
// of contiguous ranges. The record interpretation lives here; CHexManager passes records as is.
#include <cstdint>
#include <cstdio>
#include <map>

#include "content/hex_manager.h"

namespace {

constexpr uint8_t kData = 0x00;
constexpr uint8_t kEndOfFile = 0x01;
constexpr uint8_t kExtendedSegment = 0x02;
constexpr uint8_t kExtendedLinear = 0x04;

// Record: count, address high, address low, type, data..., checksum.
bool applyRecords(CHexManager& image, std::map<uint32_t, uint8_t>& memory) {
    uint8_t record[CHexManager::kMaxRecordBytes];
    uint32_t base = 0;
    uint16_t length = 0;
    image.rewind();
    while ((length = image.nextRecord(record, sizeof record)) != 0) {
        if (length < 5 || record[0] + 5u != length) return false;
        const uint8_t* data = record + 4;
        uint32_t offset = static_cast<uint32_t>(record[1]) << 8 | record[2];
        switch (record[3]) {
            case kData:
                for (uint32_t i = 0; i < record[0]; ++i) memory[base + offset + i] = data[i];
                break;
            case kExtendedLinear: base = (static_cast<uint32_t>(data[0]) << 8 | data[1]) << 16; break;
            case kExtendedSegment: base = (static_cast<uint32_t>(data[0]) << 8 | data[1]) << 4; break;
            case kEndOfFile: return true;
            default: break;
        }
    }
    return true;
}

void printRanges(const std::map<uint32_t, uint8_t>& memory) {
    auto it = memory.begin();
    while (it != memory.end()) {
        uint32_t start = it->first;
        auto end = it;
        uint32_t count = 0;
        while (end != memory.end() && end->first == start + count) {
            ++end;
            ++count;
        }
        std::printf("%08x %u ", start, count);
        for (; it != end; ++it) std::printf("%02x", it->second);
        std::printf("\n");
    }
}

}  // namespace

int main() {
    CHexManager image;
    if (!image.loadApplication(L"P32_APPLICATION")) {
        std::fprintf(stderr, "no application image embedded\n");
        return 1;
    }
    std::map<uint32_t, uint8_t> memory;
    if (!applyRecords(image, memory)) {
        std::fprintf(stderr, "malformed record\n");
        return 1;
    }
    printRanges(memory);
    return 0;
}
