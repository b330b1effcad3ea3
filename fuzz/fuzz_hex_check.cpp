// The strict check of outside HEX files: never reads outside the text, names a line within it,
// and a file that passes is one the updater loads record for record.
#include <string>

#include "content/hex_check.h"
#include "content/hex_manager.h"
#include "fuzz/fuzz_support.h"

namespace {

uint32_t lineCount(const uint8_t* data, size_t size) {
    uint32_t lines = 1;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n'))) ++lines;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HexCheckResult result;
    const bool passed = checkHexText(data, size, result);
    FUZZ_CHECK(passed == (result.problem == HexProblem::kNone));
    FUZZ_CHECK(result.line <= lineCount(data, size));
    FUZZ_CHECK(hexProblemText(result.problem) != nullptr);
    FUZZ_CHECK(result.dataRecords <= result.records);
    for (const AddressRange& range : result.ranges) FUZZ_CHECK(range.first <= range.last);
    if (!passed) return 0;

    // With a line end after the last line, the loader sees the same lines as the check.
    std::string text(reinterpret_cast<const char*>(data), size);
    text += "\n";
    CHexManager image;
    FUZZ_CHECK(image.loadFromBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()) == 1);
    FUZZ_CHECK(image.recordCount() == result.records);
    return 0;
}
