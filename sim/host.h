// Runs simulated units on real sockets and pseudo-terminals until a stop condition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_unit.h"

struct UnitEndpoints {
    uint32_t address = 0x7F000001;
    bool udp = true;
    uint16_t udpPort = 6234;
    bool discovery = true;
    uint16_t discoveryPort = 30303;
    bool tcp = true;
    uint16_t tcpPort = 4999;
    bool serial = true;
    std::string serialLink;  // optional symbolic link to the pseudo-terminal
};

struct HostOptions {
    bool paceSerial = false;
    bool exitAfterClose = false;
    double runSeconds = 0;  // 0: no limit
    // Prefix each readiness line with "unit N " (several units).
    bool labelUnits = false;
    // Where each unit's progress is kept while the host runs, one line a unit:
    // "unit N progress COUNT close_received 0|1", COUNT being records plus flash bytes
    // programmed. Empty: nowhere.
    std::string progressFile;
};

enum class HostResult { Stopped, StartFailed };

// Opens every unit's services, prints one readiness line per service and then "ready" on
// standard output, and serves until SIGINT, SIGTERM or a stop condition of `options`.
// Start-up failures go to standard error.
HostResult runHost(std::vector<SimUnit*>& units, const std::vector<UnitEndpoints>& endpoints,
                   const HostOptions& options);
