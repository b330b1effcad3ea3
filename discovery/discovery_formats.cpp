// Parsing and classification of discovery replies; no sockets here, so all of it is testable.
#include "discovery/discovery_formats.h"

#include <cstring>

#include "content/content_globals.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "ui/worker_messages.h"

namespace {

constexpr size_t kPrefixMaxChars = 255;
constexpr char kApplicationSuffix[] = " - Application\r\n";
constexpr char kBootloadSuffix[] = " - Bootload\r\n";

constexpr uint8_t kLoopbackNet = 127;
uint32_t loopbackAddress() { return platform::ipv4Address(kLoopbackNet, 0, 0, 1); }

// Link-local addresses are 169.254.0.0/16; the host part is the last two bytes, and
// 169.254.0.0, 169.254.0.1, 169.254.255.254 and 169.254.255.255 are not taken as a unit's own.
constexpr uint8_t kLinkLocalFirst = 169;
constexpr uint8_t kLinkLocalSecond = 254;
constexpr unsigned kFirstLinkLocalHost = 2;
constexpr unsigned kLastLinkLocalHost = 0xFFFD;

// True when `text` appears whole at `offset`; a reply that ends inside it does not match.
bool matchesAt(const uint8_t* data, size_t length, size_t offset, std::string_view text) {
    return offset <= length && length - offset >= text.size() &&
           std::memcmp(data + offset, text.data(), text.size()) == 0;
}

// Offset of line 3, or past `length` when the reply has fewer than three lines. Only CR LF
// ends a line.
size_t thirdLineOffset(const uint8_t* data, size_t length) {
    int line = 1;
    size_t offset = 0;
    while (line < 3 && offset < length) {
        if (data[offset] == '\r' && offset + 1 < length && data[offset + 1] == '\n') {
            offset += 2;
            ++line;
        } else {
            ++offset;
        }
    }
    return line == 3 ? offset : length + 1;
}

}  // namespace

std::wstring announcePrefix() {
    std::wstring prefix = L"Tavin ";
    prefix += unitProperties.getOrEmpty(L"announce-model");
    if (prefix.size() > kPrefixMaxChars) prefix.resize(kPrefixMaxChars);
    return prefix;
}

std::string announcePrefixBytes(const std::wstring& prefix) {
    std::string bytes = platform::toUtf8(prefix);
    if (bytes.size() > kDiscoveryReplyBytes) bytes.resize(kDiscoveryReplyBytes);
    return bytes;
}

bool parseDiscoveryReply(const uint8_t* reply, size_t length, std::string_view prefix, uint32_t& modeFlags) {
    const size_t line3 = thirdLineOffset(reply, length);
    if (line3 > length || !matchesAt(reply, length, line3, prefix)) return false;
    const size_t suffix = line3 + prefix.size();
    modeFlags = 0;
    if (!matchesAt(reply, length, suffix, kApplicationSuffix) && matchesAt(reply, length, suffix, kBootloadSuffix)) {
        modeFlags = UNIT_FLAG_BOOTLOAD;
    }
    return true;
}

DiscoveryAnnouncement announcementOf(const uint8_t* reply, size_t length) {
    std::string lines[3];
    size_t line = 0;
    for (size_t i = 0; i < length && line < 3; ++i) {
        if (reply[i] == '\r' && i + 1 < length && reply[i + 1] == '\n') {
            ++line;
            ++i;
        } else {
            lines[line] += static_cast<char>(reply[i]);
        }
    }
    const size_t mode = lines[2].rfind(" - ");
    if (mode != std::string::npos) lines[2].erase(mode);
    return {lines[0], lines[1], lines[2]};
}

uint32_t directedBroadcast(const platform::InterfaceAddress& entry) {
    return (entry.address & entry.mask) | ~entry.mask;
}

std::vector<uint32_t> broadcastTargets(const std::vector<platform::InterfaceAddress>& table) {
    std::vector<uint32_t> targets;
    for (const auto& entry : table) {
        if (entry.address != loopbackAddress()) targets.push_back(directedBroadcast(entry));
    }
    return targets;
}

bool isLinkLocal(uint32_t address) {
    uint8_t octets[4];
    std::memcpy(octets, &address, sizeof octets);
    const unsigned host = octets[2] * 256u + octets[3];
    return octets[0] == kLinkLocalFirst && octets[1] == kLinkLocalSecond && host >= kFirstLinkLocalHost &&
           host <= kLastLinkLocalHost;
}

uint32_t classifySender(uint32_t sender, const std::vector<platform::InterfaceAddress>& table) {
    uint32_t flags = UNIT_FLAG_OTHER_SUBNET;
    for (const auto& entry : table) {
        if (entry.address == loopbackAddress()) continue;
        if ((sender & entry.mask) == (entry.address & entry.mask)) {
            flags = 0;
            break;
        }
    }
    if (isLinkLocal(sender)) flags |= UNIT_FLAG_LINK_LOCAL;
    return flags;
}

bool isUsableUnitAddressIn(uint32_t address, const std::vector<platform::InterfaceAddress>& table) {
    if (address == loopbackAddress()) return false;
    for (uint32_t broadcast : broadcastTargets(table)) {
        if (address == broadcast) return false;
    }
    return true;
}

bool isUsableUnitAddress(uint32_t address) { return isUsableUnitAddressIn(address, platform::interfaceAddresses()); }
