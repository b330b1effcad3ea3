// Line splitting of the identification text: a CR ends a line and the byte after it is skipped.
#include "discovery/serial_identification.h"

#include <cstring>

namespace {

constexpr char kBootloadMode[] = " - Bootload";
constexpr size_t kBootloadModeLength = sizeof kBootloadMode - 1;

size_t nextCarriageReturn(const uint8_t* text, size_t length, size_t from) {
    while (from < length && text[from] != '\r') ++from;
    return from;
}

}  // namespace

bool isBootloadIdentification(const uint8_t* text, size_t length, size_t prefixLength) {
    size_t start = 0;
    for (int line = 1; line <= 2; ++line) {
        const size_t end = nextCarriageReturn(text, length, start);
        if (end >= length) return false;
        start = end + 2;
    }
    if (start >= length) return false;
    const size_t end = nextCarriageReturn(text, length, start);
    const size_t lineLength = end - start;
    return lineLength >= prefixLength && lineLength - prefixLength == kBootloadModeLength &&
           std::memcmp(text + start + prefixLength, kBootloadMode, kBootloadModeLength) == 0;
}
