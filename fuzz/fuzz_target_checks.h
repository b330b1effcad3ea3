// What the fuzz targets of the command line's readers check on every message and name: a text
// fit for a terminal, of bounded length whatever the input.
#pragma once

#include <string>

#include "cli/target_text.h"
#include "fuzz/fuzz_support.h"

// A message echoes at most kShownChars characters of a name (each at most a six-byte escape),
// the file's name and a reason.
constexpr size_t kLongestMessage = 64 + 6 * kShownChars + 400;

inline bool isShowable(const std::string& text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

// A name either makes a target whose label can be shown as it is, or is refused with its
// origin and a showable message.
inline void checkName(const NamedUnit& name) {
    UnitTarget target;
    std::string error;
    if (targetFromName(name.text, NameSource::kFile, name.origin, target, error)) {
        FUZZ_CHECK(target.label == name.text && target.origin == name.origin);
        FUZZ_CHECK(shownText(target.label, kShownWhole) == target.label);
        FUZZ_CHECK(target.unit.isSerial() ? !target.unit.portName.empty() : target.unit.ipv4 != 0);
        return;
    }
    FUZZ_CHECK(error.rfind(name.origin + ": ", 0) == 0);
    FUZZ_CHECK(isShowable(error) && error.size() <= kLongestMessage);
}
