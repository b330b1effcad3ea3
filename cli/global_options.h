// Options that come before the command and apply to every command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GlobalOptions {
    std::vector<std::string> unitAddresses;
    std::vector<std::string> serialPorts;
    uint16_t parserPort = 4999;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    // --log FILE: the verbose lines, appended to a file whatever -v says.
    std::string logFile;
};
