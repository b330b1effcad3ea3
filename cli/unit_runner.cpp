// Per-unit threads and the receiving loop on the calling thread.
#include "cli/unit_runner.h"

#include <deque>

#include "platform/clock.h"
#include "platform/console.h"

namespace {
constexpr uint32_t kPassPauseMs = 20;

void drain(UnitRun& run, size_t unit, const UnitMessageHandler& onMessage) {
    platform::WindowMessage message;
    while (run.window.receive(message, 0)) {
        if (onMessage) onMessage(unit, message);
        run.window.handled();
    }
}

double secondsSince(uint32_t startTick) { return platform::ticksBetween(startTick, platform::tickCount()) / 1000.0; }

// Interrupts are held off while a thread starts, so only the main thread takes them and
// turns them into stop requests.
void startThread(UnitRun& unit, const UnitWork& work, uint32_t runStartTick) {
    const platform::InterruptsHeldOff heldOff;
    UnitRun* run = &unit;
    run->finished.store(false);
    ++run->attempts;
    run->startTick = platform::tickCount();
    run->startedAt = secondsSince(runStartTick);
    run->thread = std::thread([run, &work, runStartTick] {
        run->terminal = work(*run);
        run->endTick = platform::tickCount();
        run->endedAt = secondsSince(runStartTick);
        run->finished.store(true);
    });
}
}  // namespace

double UnitRun::seconds() const { return platform::ticksBetween(startTick, endTick) / 1000.0; }

std::vector<std::unique_ptr<UnitRun>> makeRuns(const std::vector<UnitTarget>& targets) {
    std::vector<std::unique_ptr<UnitRun>> runs;
    for (const UnitTarget& target : targets) runs.push_back(std::make_unique<UnitRun>(runs.size(), target));
    return runs;
}

void runUnits(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitWork& work, const RunnerHooks& hooks,
              unsigned jobs) {
    const uint32_t runStartTick = platform::tickCount();
    const size_t limit = jobs == 0 ? runs.size() : jobs;
    std::deque<size_t> waiting;
    for (size_t i = 0; i < runs.size(); ++i) waiting.push_back(i);
    std::vector<bool> active(runs.size(), false);
    size_t running = 0;
    for (;;) {
        while (running < limit && !waiting.empty() && platform::interruptSignal() == 0) {
            active[waiting.front()] = true;
            startThread(*runs[waiting.front()], work, runStartTick);
            waiting.pop_front();
            ++running;
        }
        // A unit's last messages are posted before it finishes, so a pass after it has
        // finished collects everything.
        for (size_t i = 0; i < runs.size(); ++i) {
            if (!active[i]) continue;
            const bool done = runs[i]->finished.load();
            drain(*runs[i], i, hooks.onMessage);
            if (!done) continue;
            runs[i]->thread.join();
            active[i] = false;
            --running;
            if (hooks.onFinished) hooks.onFinished(i);
            if (hooks.again && platform::interruptSignal() == 0 && hooks.again(i)) waiting.push_back(i);
        }
        if (running == 0 && (waiting.empty() || platform::interruptSignal() != 0)) break;
        if (hooks.idle) hooks.idle();
        platform::sleepMs(kPassPauseMs);
    }
}

void runUnitsInParallel(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitWork& work,
                        const UnitMessageHandler& onMessage, const std::function<void()>& idle, unsigned jobs) {
    runUnits(runs, work, RunnerHooks{onMessage, idle, nullptr, nullptr}, jobs);
}
