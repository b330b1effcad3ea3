#include "cli/unit_lock.h"

#include "platform/text.h"

bool lockNetworkUnits(const std::vector<UnitTarget>& targets, UnitLocks& locks, std::string& error) {
    locks.clear();
    for (const UnitTarget& target : targets) {
        if (target.unit.isSerial()) continue;
        const std::string address = platform::toUtf8(target.unit.displayText());
        platform::ProcessLock lock;
        uint32_t holder = 0;
        if (!lock.acquire("unit-" + address, holder)) {
            const std::string who = holder ? " (pid " + std::to_string(holder) + ")" : "";
            error = address + " is being updated by another ztupdate" + who;
            locks.clear();
            return false;
        }
        locks.push_back(std::move(lock));
    }
    return true;
}
