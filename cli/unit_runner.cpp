// Per-unit threads and the receiving loop on the calling thread.
#include "cli/unit_runner.h"

#include "platform/clock.h"
#include "platform/console.h"

namespace {
constexpr uint32_t kPassPauseMs = 20;

void drain(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitMessageHandler& onMessage) {
    for (size_t i = 0; i < runs.size(); ++i) {
        platform::WindowMessage message;
        while (runs[i]->window.receive(message, 0)) {
            onMessage(i, message);
            runs[i]->window.handled();
        }
    }
}

bool allFinished(const std::vector<std::unique_ptr<UnitRun>>& runs) {
    for (const auto& run : runs) {
        if (!run->finished.load()) return false;
    }
    return true;
}

// Interrupts are held off while the threads start, so only the main thread takes them and
// turns them into stop requests.
void startThreads(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitWork& work) {
    const platform::InterruptsHeldOff heldOff;
    for (auto& run : runs) {
        UnitRun* unit = run.get();
        unit->startTick = platform::tickCount();
        unit->thread = std::thread([unit, &work] {
            unit->terminal = work(*unit);
            unit->endTick = platform::tickCount();
            unit->finished.store(true);
        });
    }
}
}  // namespace

double UnitRun::seconds() const { return platform::ticksBetween(startTick, endTick) / 1000.0; }

std::vector<std::unique_ptr<UnitRun>> makeRuns(const std::vector<UnitTarget>& targets) {
    std::vector<std::unique_ptr<UnitRun>> runs;
    for (const UnitTarget& target : targets) runs.push_back(std::make_unique<UnitRun>(target));
    return runs;
}

void runUnitsInParallel(std::vector<std::unique_ptr<UnitRun>>& runs, const UnitWork& work,
                        const UnitMessageHandler& onMessage, const std::function<void()>& idle) {
    startThreads(runs, work);
    // A unit's last messages are posted before it finishes, so one pass after all have
    // finished collects everything.
    for (;;) {
        const bool done = allFinished(runs);
        drain(runs, onMessage);
        if (done) break;
        if (idle) idle();
        platform::sleepMs(kPassPauseMs);
    }
    for (auto& run : runs) run->thread.join();
}
