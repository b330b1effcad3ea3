// Units files: any bytes are read without an exception or a wait; every line kept is one name
// with its line number, and every name makes a target or is refused with a message fit for a
// terminal, however long or odd the line.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_target_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string shown = shownText(text);
    FUZZ_CHECK(isShowable(shown) && shown.size() <= 6 * kShownChars + 3);

    std::vector<NamedUnit> names;
    std::string error;
    if (!readUnitsText(text, "units.txt", names, error)) {
        FUZZ_CHECK(error.rfind("units.txt", 0) == 0);
        FUZZ_CHECK(isShowable(error) && error.size() <= kLongestMessage);
        return 0;
    }
    FUZZ_CHECK(names.size() <= kMostUnits);
    for (const NamedUnit& name : names) {
        FUZZ_CHECK(!name.text.empty() && name.text.find_first_of(" \t\r\n#") == std::string::npos);
        FUZZ_CHECK(name.origin.rfind("units.txt:", 0) == 0);
        checkName(name);
    }
    return 0;
}
