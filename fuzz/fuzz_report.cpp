// Earlier JSON results (--units-from): any bytes are read without an exception; a result of the
// wrong shape is refused naming the file, --failed keeps a subset of the units in their order,
// and every target makes a target or is refused with a message fit for a terminal.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_target_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<NamedUnit> all;
    std::vector<NamedUnit> failed;
    std::string error;
    const bool read = readReportText(text, "r.json", false, all, error);
    if (!read) {
        FUZZ_CHECK(error.rfind("--units-from r.json: ", 0) == 0);
        FUZZ_CHECK(isShowable(error) && error.size() <= kLongestMessage);
    }
    FUZZ_CHECK(readReportText(text, "r.json", true, failed, error) == read);
    if (!read) return 0;
    FUZZ_CHECK(all.size() <= kMostUnits && failed.size() <= all.size());
    size_t next = 0;
    for (const NamedUnit& unit : failed) {
        while (next < all.size() && all[next].text != unit.text) ++next;
        FUZZ_CHECK(next < all.size());
        ++next;
    }
    for (const NamedUnit& unit : all) {
        FUZZ_CHECK(unit.origin == "r.json");
        checkName(unit);
    }
    return 0;
}
