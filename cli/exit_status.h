// Exit statuses of ztupdate; with several units the worst one wins.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailed = 1,      // a stage failed, the unit's answer was wrong, the PIN was refused
    kExitUsage = 2,       // a usage error or a bad input file
    kExitNoResponse = 3,  // a unit did not answer
    // Ended by a signal: 128 + its number (130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP).
    kExitInterrupted = 128,
};

// Severity order: no response > usage > failed > success, so a silent unit is never hidden.
inline int worseStatus(int a, int b) {
    auto rank = [](int status) { return status == kExitNoResponse ? 3 : status == kExitUsage ? 2 : status; };
    return rank(a) >= rank(b) ? a : b;
}

// "ztupdate: <error>" on standard error, kept for --json's error document; returns kExitUsage.
int reportUsageError(const std::string& error);
