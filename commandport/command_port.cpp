// Command texts, reply rules and the probing order shared by the worker, the dialog and the CLI.
#include "commandport/command_port.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/clock.h"
#include "transport/com_port_table.h"
#include "transport/transport_factory.h"

std::atomic<uint32_t> parserPort{kDefaultParserPort};

namespace {

constexpr char kQueryPrefix[] = "<sy,bq = ";
constexpr size_t kQueryPrefixLength = 9;
constexpr size_t kStateOffset = 10;

bool exchangeExpecting(Transport& transport, const char* command, const char* const* accepted) {
    char reply[kUnlockReplyBytes] = {};
    if (!transport.exchangeText(command, reply, sizeof reply, kCommandPortTimeoutMs)) return false;
    for (; *accepted; ++accepted) {
        if (std::strcmp(reply, *accepted) == 0) return true;
    }
    return false;
}

// One probe: a fresh transport, opened, asked, closed and deleted.
bool probeWith(std::unique_ptr<Transport> probe, uint32_t timeoutMs, const CommandPortFound& onFound) {
    bool found = false;
    if (probe->open()) {
        char reply[kQueryReplyBytes] = {};
        found = queryCommandPort(*probe, reply, timeoutMs);
        if (found) onFound(*probe, reply);
    }
    probe->close();
    return found;
}

// The serial rates in turn, each for up to kCommandPortTimeoutMs but never past budgetMs in all.
bool probeSerialRates(const UnitAddress& unit, uint32_t budgetMs, const CommandPortFound& onFound) {
    const uint32_t start = platform::tickCount();
    for (const uint32_t* rate = baudRates; *rate != 0; ++rate) {
        const uint32_t spent = platform::ticksBetween(start, platform::tickCount());
        if (spent >= budgetMs) return false;
        const uint32_t timeoutMs = std::min(kCommandPortTimeoutMs, budgetMs - spent);
        if (probeWith(makeSerialTransport(unit.portName, *rate), timeoutMs, onFound)) return true;
    }
    return false;
}

}  // namespace

// Above the well-known ports, up to the highest TCP port.
bool isValidParserPort(long long port) { return port >= 1024 && port <= UINT16_MAX; }

bool isQueryReply(const char* reply) { return std::strncmp(reply, kQueryPrefix, kQueryPrefixLength) == 0; }

char bootloadStateOf(const char* reply) { return std::strlen(reply) > kStateOffset ? reply[kStateOffset] : '\0'; }

bool queryCommandPort(Transport& transport, char (&reply)[kQueryReplyBytes], uint32_t timeoutMs) {
    return transport.exchangeText("<SY,BQ/>", reply, sizeof reply, timeoutMs) && isQueryReply(reply);
}

bool unlockBootload(Transport& transport, const char* pin) {
    char command[kUnlockReplyBytes];
    std::snprintf(command, sizeof command, "<SY,BU%s/>", pin);
    static const char* const kUnlockReplies[] = {"<sy,bu = ud/>", "<sy,bu = ue/>", nullptr};
    static const char* const kEnableReplies[] = {"<sy,be = ue/>", nullptr};
    static const char* const kRestartReplies[] = {"<sy,br/>", nullptr};
    return exchangeExpecting(transport, command, kUnlockReplies) &&
           exchangeExpecting(transport, "<SY,BE/>", kEnableReplies) &&
           exchangeExpecting(transport, "<SY,BR/>", kRestartReplies);
}

bool probeCommandPort(const CommandPortTarget& target, uint32_t tcpTimeoutMs, const CommandPortFound& onFound) {
    switch (target.unit.kind) {
        case UnitAddress::Kind::kSerial: return probeSerialRates(target.unit, UINT32_MAX, onFound);
        case UnitAddress::Kind::kNetwork:
            return probeWith(makeTcpTransport(target.unit.ipv4, target.tcpPort), tcpTimeoutMs, onFound);
    }
    return false;
}

bool probeCommandPort(const UnitAddress& unit, uint32_t tcpTimeoutMs, const CommandPortFound& onFound) {
    return probeCommandPort(CommandPortTarget{unit, parserPort.load()}, tcpTimeoutMs, onFound);
}

bool probeCommandPortWithin(const CommandPortTarget& target, uint32_t budgetMs, const CommandPortFound& onFound) {
    switch (target.unit.kind) {
        case UnitAddress::Kind::kSerial: return probeSerialRates(target.unit, budgetMs, onFound);
        case UnitAddress::Kind::kNetwork:
            return budgetMs > 0 && probeWith(makeTcpTransport(target.unit.ipv4, target.tcpPort),
                                             std::min(kCommandPortTimeoutMs, budgetMs), onFound);
    }
    return false;
}

bool probeCommandPortWithin(const UnitAddress& unit, uint32_t budgetMs, const CommandPortFound& onFound) {
    return probeCommandPortWithin(CommandPortTarget{unit, parserPort.load()}, budgetMs, onFound);
}

EnterBootloadResult enterBootload(const CommandPortTarget& target, const char* pin) {
    bool unlocked = false;
    const bool found = probeCommandPort(target, kCommandPortTimeoutMs,
                                        [&](Transport& probe, const char*) { unlocked = unlockBootload(probe, pin); });
    if (!found) return EnterBootloadResult::kUnitNotFound;
    return unlocked ? EnterBootloadResult::kEnabled : EnterBootloadResult::kUnlockFailed;
}

EnterBootloadResult enterBootload(const UnitAddress& unit, const char* pin) {
    return enterBootload(CommandPortTarget{unit, parserPort.load()}, pin);
}

bool isValidPin(const wchar_t* text) {
    if (!text || std::wcslen(text) != 4) return false;
    for (int i = 0; i < 4; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
    }
    return true;
}
