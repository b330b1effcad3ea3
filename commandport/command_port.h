// The unit's text command port: the bootload query and the three-step unlock with the PIN.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "transport/ethernet_transport.h"
#include "transport/transport.h"
#include "transport/unit_address.h"

constexpr uint32_t kQueryReplyBytes = 16;
constexpr uint32_t kUnlockReplyBytes = 32;
constexpr uint32_t kCommandPortTimeoutMs = 1000;
// The request worker's shorter budget for one TCP query.
constexpr uint32_t kWorkerTcpQueryTimeoutMs = 250;

// The unit's TCP command port, set from the window; 1024 to 65535.
extern std::atomic<uint32_t> parserPort;

bool isValidParserPort(long long port);

// A reply to "<SY,BQ/>" starts with "<sy,bq = "; offset 10 holds 'e' (enabled) or 'd' (disabled).
bool isQueryReply(const char* reply);
char bootloadStateOf(const char* reply);

// Sends "<SY,BQ/>" on an open transport; true when a query reply came within timeoutMs.
bool queryCommandPort(Transport& transport, char (&reply)[kQueryReplyBytes], uint32_t timeoutMs);

// "<SY,BU<pin>/>", "<SY,BE/>", "<SY,BR/>" on one open transport, each reply compared exactly;
// stops at the first failure and re-sends nothing.
bool unlockBootload(Transport& transport, const char* pin);

// Looks for the command port of the unit at `unit`: over its serial port at every rate of
// baudRates until one answers (1000 ms each), or over one TCP connection on parserPort with
// tcpTimeoutMs. For the unit found, onFound runs with the open transport and the reply. Probe
// transports live only for their attempt. False when nothing answered.
using CommandPortFound = std::function<void(Transport& transport, const char* reply)>;
bool probeCommandPort(const UnitAddress& unit, uint32_t tcpTimeoutMs, const CommandPortFound& onFound);
// probeCommandPort within budgetMs in all: each attempt gets at most what is left of it, and the
// serial rates not reached in time are skipped.
bool probeCommandPortWithin(const UnitAddress& unit, uint32_t budgetMs, const CommandPortFound& onFound);

// A unit's command port where the caller names the TCP port rather than the window's parserPort.
struct CommandPortTarget {
    UnitAddress unit;
    uint32_t tcpPort = kDefaultParserPort;
};
bool probeCommandPort(const CommandPortTarget& target, uint32_t tcpTimeoutMs, const CommandPortFound& onFound);
bool probeCommandPortWithin(const CommandPortTarget& target, uint32_t budgetMs, const CommandPortFound& onFound);

enum class EnterBootloadResult {
    kUnitNotFound,  // no query reply anywhere: the dialog stays open
    kEnabled,       // the unlock sequence succeeded
    kUnlockFailed,  // the unit answered the query but refused or broke off the unlock
};

// What the Enter Bootload dialog and `ztupdate enter-bootload` run; the message boxes and the
// wait after success stay with the caller.
EnterBootloadResult enterBootload(const UnitAddress& unit, const char* pin);
EnterBootloadResult enterBootload(const CommandPortTarget& target, const char* pin);

// Exactly four decimal digits.
bool isValidPin(const wchar_t* text);
