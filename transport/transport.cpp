// The command-port text exchange shared by every transport.
#include "transport/transport.h"

#include <cstring>

#include "platform/clock.h"

const wchar_t* Transport::kind() {
    switch (transportKind()) {
        case TransportKind::kSerial: return L"COM";
        case TransportKind::kUdp: return L"IP";
        case TransportKind::kTcp: return L"TCP";
    }
    return L"";
}

namespace {

// Moves a reply's start to the front: bytes before the first "<" are noise or an echo.
uint32_t keepFromFirstOpening(char* bytes, uint32_t count) {
    const void* opening = std::memchr(bytes, '<', count);
    if (!opening) return 0;
    uint32_t skip = static_cast<uint32_t>(static_cast<const char*>(opening) - bytes);
    std::memmove(bytes, bytes + skip, count - skip);
    return count - skip;
}

// Index just past the last ">" among `count` bytes, or 0 when there is none.
uint32_t endAfterLastClosing(const char* bytes, uint32_t count) {
    for (uint32_t i = count; i > 0; --i) {
        if (bytes[i - 1] == '>') return i;
    }
    return 0;
}

// A peer that never stops sending must not hold the drain for ever: after this long (or the
// reply's own budget, if longer) whatever is still arriving is left to the reply's framing.
constexpr uint32_t kMinDrainMs = 1000;

}  // namespace

bool Transport::exchangeText(const char* request, char* reply, uint32_t replySize, uint32_t timeoutMs) {
    if (replySize < 2) return false;
    auto* buffer = reinterpret_cast<uint8_t*>(reply);
    const uint32_t drainStart = platform::tickCount();
    const uint32_t drainLimitMs = timeoutMs > kMinDrainMs ? timeoutMs : kMinDrainMs;
    while (read(buffer, replySize) > 0 && platform::ticksBetween(drainStart, platform::tickCount()) < drainLimitMs) {
    }

    if (!write(reinterpret_cast<const uint8_t*>(request), static_cast<uint32_t>(std::strlen(request)))) {
        return false;
    }
    if (transportKind() != TransportKind::kSerial) {
        write(reinterpret_cast<const uint8_t*>("\r\n"), 2);
    }
    const uint32_t sentAt = platform::tickCount();
    platform::sleepMs(10);

    uint32_t kept = 0;
    bool started = false;
    do {
        // A full buffer without a closing ">" cannot become a reply; a closed port never will.
        if (kept >= replySize - 1 || !isOpen()) return false;
        std::memset(reply + kept, 0, replySize - kept);
        uint32_t fresh = read(buffer + kept, replySize - 1 - kept);
        if (fresh > 0 && !started) {
            fresh = keepFromFirstOpening(reply, fresh);
            started = fresh > 0;
        }
        if (fresh > 0) {
            uint32_t end = endAfterLastClosing(reply + kept, fresh);
            if (end > 0) {
                reply[kept + end] = '\0';
                return true;
            }
            kept += fresh;
        }
    } while (platform::ticksBetween(sentAt, platform::tickCount()) < timeoutMs);
    return false;
}
