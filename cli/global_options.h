// Options that come before the command and apply to every command.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct GlobalOptions {
    std::vector<std::string> unitAddresses;
    std::vector<std::string> serialPorts;
    // --units FILE: one target a line, after every --ip and --serial.
    std::vector<std::string> unitFiles;
    // --units-from REPORT: the units of an earlier JSON result; with --failed, only the failed ones.
    std::string unitsFrom;
    bool failedOnly = false;
    // --jobs N: at most N units in flight at once; 0 means all of them.
    unsigned jobs = 0;
    uint16_t parserPort = 4999;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    // --log FILE: the verbose lines, appended to a file whatever -v says.
    std::string logFile;
    // For the records of a run: when the program started, and its arguments as typed.
    std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
    std::string commandLine;
};
