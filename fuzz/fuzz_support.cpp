// Playback of fuzzer bytes as transport reads.
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>

uint16_t FuzzTransport::read(uint8_t* buffer, uint32_t capacity) {
    if (!scripted.empty()) {
        std::vector<uint8_t> next = std::move(scripted.front());
        scripted.erase(scripted.begin());
        const size_t count = std::min<size_t>(next.size(), capacity);
        if (count > 0) std::memcpy(buffer, next.data(), count);
        clock_.advance(1);
        return static_cast<uint16_t>(count);
    }
    if (input_.empty()) {
        clock_.advance(readTimeoutMs_);
        return 0;
    }
    std::vector<uint8_t> run = input_.take(input_.byte());
    const size_t count = std::min<size_t>(run.size(), capacity);
    if (count > 0) std::memcpy(buffer, run.data(), count);
    clock_.advance(count > 0 ? 1 : readTimeoutMs_);
    return static_cast<uint16_t>(count);
}
