// Program requests sized by the frame they make, not by their record count alone.
#include "bootloader/record_request.h"

#include <algorithm>

#include "bootloader/frame_codec.h"
#include "content/hex_record.h"

namespace {

// SOH and EOT, the command byte and sequence number, and the CRC, each byte possibly stuffed.
constexpr uint32_t kWorstFrameOverhead = 2 + 2 * (1 + 4) + 2 * 2;
constexpr uint32_t kStuffedRecordBudget = kFrameBufferSize - kWorstFrameOverhead;

bool isStuffed(uint8_t byte) { return byte == kSoh || byte == kEot || byte == kDle; }

}  // namespace

uint32_t stuffedSize(const uint8_t* bytes, uint32_t length) {
    uint32_t size = length;
    for (uint32_t i = 0; i < length; ++i) size += isStuffed(bytes[i]) ? 1 : 0;
    return size;
}

// A record is only taken when even its worst stuffing fits what is left, so nothing taken has
// to be put back.
uint32_t packRecordRequest(CHexManager& image, uint8_t* request) {
    uint32_t filled = 0;
    uint32_t stuffed = 0;
    for (uint32_t i = 0; i < kRecordsPerRequest; ++i) {
        const uint32_t room = std::min(kRecordRequestBytes - filled, (kStuffedRecordBudget - stuffed) / 2);
        const uint16_t count = image.nextRecord(request + filled, static_cast<uint16_t>(room));
        if (count == 0) break;
        stuffed += stuffedSize(request + filled, count);
        filled += count;
    }
    return filled;
}

bool hasDataRecords(CHexManager& image) {
    uint8_t record[CHexManager::kMaxRecordBytes];
    image.rewind();
    bool found = false;
    while (!found) {
        const uint16_t count = image.nextRecord(record, sizeof record);
        if (count == 0) break;
        found = count > kRecordTypeOffset && record[kRecordTypeOffset] == kDataRecord && record[kRecordCountOffset] > 0;
    }
    image.rewind();
    return found;
}
