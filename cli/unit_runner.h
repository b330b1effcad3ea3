// Runs one piece of work per unit, each on its own thread with its own message queue as its
// "window", at most a given number at once, while the calling thread receives every unit's
// messages in arrival order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "bootloader/bootloader_engine.h"
#include "cli/unit_target.h"
#include "platform/window_messages.h"

struct UnitRun {
    UnitRun(size_t position, UnitTarget unitTarget) : index(position), target(std::move(unitTarget)) {}

    // Where the unit is among the targets, for work that keeps per-unit results beside the runs.
    const size_t index;
    UnitTarget target;
    platform::MessageQueue window;
    std::thread thread;
    // Written by the unit's thread before it sets `finished`.
    uint32_t terminal = 0;
    uint32_t startTick = 0;
    uint32_t endTick = 0;
    // The engine's counts at the end of the run, for the JSON result and the closing table.
    EngineCounters counts;
    bool hasCounts = false;
    // The run ended on a stop request, at a transaction boundary.
    bool stopped = false;
    // A plain bootloader's reply may have been a late copy of an earlier one: the run failed.
    bool repliesInDoubt = false;
    // No bootloader answered, but the unit's command port did: it runs its application.
    bool runsApplication = false;
    std::atomic<bool> finished{false};
    // How many times the work has started on this unit (0: it never had its turn).
    unsigned attempts = 0;
    // Start and end of the last attempt, in seconds from the start of the whole run.
    double startedAt = 0;
    double endedAt = 0;

    double seconds() const;
};

// Returns the run's terminal message (or any code the caller gives meaning to).
using UnitWork = std::function<uint32_t(UnitRun& run)>;
// Called on the calling thread for each message; a sent message is released when it returns.
using UnitMessageHandler = std::function<void(size_t unit, const platform::WindowMessage& message)>;

std::vector<std::unique_ptr<UnitRun>> makeRuns(const std::vector<UnitTarget>& targets);

// What the calling thread does while the units run; any may be empty.
struct RunnerHooks {
    UnitMessageHandler onMessage;
    // Between passes over the queues (every few tens of milliseconds).
    std::function<void()> idle;
    // After an attempt has ended and its messages have been handled.
    std::function<void(size_t unit)> onFinished;
    // After onFinished: true to queue the unit for another attempt, behind every waiting unit.
    std::function<bool(size_t unit)> again;
};

// Starts the units' work in order, at most `jobs` at once (0: all), each waiting unit as soon as
// a running one ends, and returns when all have ended. After an interrupt no unit starts.
void runUnits(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitWork& work, const RunnerHooks& hooks,
              unsigned jobs);

// runUnits without retries or end-of-attempt hooks.
void runUnitsInParallel(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitWork& work,
                        const UnitMessageHandler& onMessage, const std::function<void()>& idle, unsigned jobs);
