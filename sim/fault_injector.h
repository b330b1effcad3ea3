// Seeded faults on the bootloader link, so a failing run can be repeated exactly.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "sim/unit_config.h"

class FaultInjector {
public:
    explicit FaultInjector(const FaultConfig& config) : config_(config), random_(config.seed) {}

    bool dropIncoming() { return chance(config_.dropIncomingPercent); }
    bool dropOutgoing() { return chance(config_.dropOutgoingPercent); }
    // Extra time this record or chunk write takes: now and then slowProgramMs (to slowProgramMaxMs), else 0.
    uint32_t extraProgramMs();
    // How much later than the first the second copy of a reply goes out.
    uint32_t copyDelayMs() { return between(config_.copyDelayMinMs, config_.copyDelayMaxMs); }
    // With the configured chance, changes one byte of the stuffed reply to another value.
    // Returns true when it did.
    bool maybeCorrupt(std::vector<uint8_t>& frame);

private:
    bool chance(double percent);
    uint32_t between(uint32_t low, uint32_t high);

    const FaultConfig config_;
    std::mt19937 random_;
};
