// Two updaters on one network unit interleave their requests and leave its memory wrong; a
// serial port is already held open by one program at a time. So each network unit is locked on
// this computer for the run.
#pragma once

#include <string>
#include <vector>

#include "cli/unit_target.h"
#include "platform/process_lock.h"

using UnitLocks = std::vector<platform::ProcessLock>;

// Takes the lock of every network target. False, with "192.0.2.10 is being updated by another
// ztupdate (pid N)", when another process holds one; the locks taken are then let go.
bool lockNetworkUnits(const std::vector<UnitTarget>& targets, UnitLocks& locks, std::string& error);
