// The poll loop of enter-bootload's and upgrade's restart waits.
#include "cli/restart_wait.h"

#include <algorithm>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_engine.h"
#include "platform/clock.h"
#include "transport/transport_factory.h"

namespace {

constexpr uint16_t kPollTimeoutMs = 500;
constexpr uint32_t kPollPauseMs = 250;

}  // namespace

Waited awaitAnswer(uint32_t startTick, uint32_t budgetMs, const std::function<bool()>& stopping,
                   const std::function<bool(uint32_t leftMs)>& answers) {
    Waited waited;
    for (;;) {
        const uint32_t spent = platform::ticksBetween(startTick, platform::tickCount());
        if (waited.answered || stopping() || spent >= budgetMs) {
            waited.ms = spent;
            return waited;
        }
        waited.answered = answers(budgetMs - spent);
        if (!waited.answered) platform::sleepMs(std::min(kPollPauseMs, budgetMs - spent));
    }
}

Waited awaitBootloader(const UnitAddress& unit, uint32_t startTick, uint32_t budgetMs,
                       const std::function<bool()>& stopping) {
    BootloaderEngine engine;
    engine.setTransport(makeBootloaderTransport(unit));
    return awaitAnswer(startTick, budgetMs, stopping, [&](uint32_t leftMs) {
        if (!engine.openTransport()) return false;
        const uint16_t timeoutMs = static_cast<uint16_t>(std::min<uint32_t>(kPollTimeoutMs, leftMs));
        const bool answered = BootloaderCommands(engine).identify(timeoutMs, 1).answered;
        engine.closeTransport();
        return answered;
    });
}
