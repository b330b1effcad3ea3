// Waiting for a unit that restarts: polls until it answers, instead of a fixed wait.
#pragma once

#include <cstdint>
#include <functional>

#include "transport/unit_address.h"

// Whether the unit answered, and how long the wait really took.
struct Waited {
    bool answered = false;
    uint32_t ms = 0;
};

// Polls until `answers` is true, `stopping` is, or budgetMs from startTick are spent; each
// poll is given only the time left, and a silent one is followed by a short pause.
Waited awaitAnswer(uint32_t startTick, uint32_t budgetMs, const std::function<bool()>& stopping,
                   const std::function<bool(uint32_t leftMs)>& answers);

// Command 1 until the unit's bootloader answers, each time for at most 500 ms.
Waited awaitBootloader(const UnitAddress& unit, uint32_t startTick, uint32_t budgetMs,
                       const std::function<bool()>& stopping);
