// Intel HEX text as the updater loads it (embedded image and outside files alike): the load
// either fails and leaves the image empty, or hands out exactly the records it counted.
#include <cstring>

#include "content/hex_manager.h"
#include "fuzz/fuzz_support.h"

namespace {

void checkRecords(CHexManager& image) {
    image.rewind();
    uint8_t record[CHexManager::kMaxRecordBytes];
    uint8_t tiny[4];
    uint32_t records = 0;
    size_t bytes = 0;
    for (;;) {
        // A destination that is too small hands out nothing and keeps the cursor.
        const uint16_t refused = image.nextRecord(tiny, sizeof tiny);
        const uint16_t length = refused ? refused : image.nextRecord(record, sizeof record);
        if (length == 0) break;
        FUZZ_CHECK(length <= CHexManager::kMaxRecordBytes);
        ++records;
        bytes += length;
    }
    FUZZ_CHECK(records == image.recordCount());
    FUZZ_CHECK(records == image.recordsHandedOut());
    FUZZ_CHECK(bytes == image.recordBytes());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CHexManager image;
    if (image.loadFromBytes(data, size) == 1) {
        checkRecords(image);
    } else {
        FUZZ_CHECK(image.recordCount() == 0);
    }

    // Each line alone, as the line walker hands it over.
    const size_t length = size < LoadableText::kLineChars ? size : LoadableText::kLineChars - 1;
    std::vector<wchar_t> line(length + 1, L'\0');
    for (size_t i = 0; i < length; ++i) line[i] = static_cast<wchar_t>(data[i]);
    CHexManager single;
    single.reset();
    if (single.parseLine(line.data()) == 1) checkRecords(single);
    return 0;
}
