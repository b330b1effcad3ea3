// Fault decisions from one seeded generator.
#include "sim/fault_injector.h"

bool FaultInjector::chance(double percent) {
    if (percent <= 0) return false;
    return std::uniform_real_distribution<double>(0.0, 100.0)(random_) < percent;
}

uint32_t FaultInjector::between(uint32_t low, uint32_t high) {
    if (high <= low) return low;
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
}

uint32_t FaultInjector::extraProgramMs() {
    return chance(config_.slowProgramPercent) ? between(config_.slowProgramMs, config_.slowProgramMaxMs) : 0;
}

bool FaultInjector::maybeCorrupt(std::vector<uint8_t>& frame) {
    if (frame.empty() || !chance(config_.corruptPercent)) return false;
    size_t index = std::uniform_int_distribution<size_t>(0, frame.size() - 1)(random_);
    uint8_t flip = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(random_));
    frame[index] ^= flip;
    return true;
}
