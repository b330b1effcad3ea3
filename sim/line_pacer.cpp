// Byte timing of a serial line: each byte takes bitsPerByte / rate seconds, back to back.
#include "sim/line_pacer.h"

#include <algorithm>

namespace {
constexpr double kUsPerSecond = 1e6;
}  // namespace

LinePacer::LinePacer(uint32_t bitsPerSecond, uint32_t bitsPerByte)
    : byteTimeUs_(bitsPerSecond == 0 ? 0.0 : kUsPerSecond * bitsPerByte / bitsPerSecond) {}

void LinePacer::push(const uint8_t* bytes, size_t count, uint64_t nowUs) {
    lineFreeUs_ = std::max(lineFreeUs_, static_cast<double>(nowUs));
    for (size_t i = 0; i < count; ++i) {
        lineFreeUs_ += byteTimeUs_;
        queue_.push_back({static_cast<uint64_t>(lineFreeUs_), bytes[i]});
    }
}

std::vector<uint8_t> LinePacer::takeDue(uint64_t nowUs) {
    std::vector<uint8_t> due;
    while (!queue_.empty() && queue_.front().dueUs <= nowUs) {
        due.push_back(queue_.front().value);
        queue_.pop_front();
    }
    return due;
}
