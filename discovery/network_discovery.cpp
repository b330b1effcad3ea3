// ip_discover_thread: request broadcast on every local network, replies read for a while.
#include <map>
#include <mutex>
#include <vector>

#include "discovery/discovery_formats.h"
#include "discovery/discovery_threads.h"
#include "platform/alert.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

std::atomic<bool> discoveryStop{false};

namespace {

bool failWithAlert(UiStringId textId) {
    platform::showAlert(uiString(textId), uiString(kSocketErrorTitle));
    return false;
}

bool prepareSocket(platform::Socket& socket, uint32_t receiveTimeoutMs) {
    if (!socket.openUdp()) return failWithAlert(kSocketCreationFailed);
    if (!socket.setReceiveTimeout(receiveTimeoutMs)) return failWithAlert(kReceiveTimeoutFailed);
    if (!socket.setBroadcast(true)) return failWithAlert(kBroadcastModeFailed);
    // Requests must stay on the directly attached networks; a refusal changes nothing here.
    socket.setDoNotRoute(true);
    return true;
}

void sendRequests(platform::Socket& socket, const std::vector<uint32_t>& targets, uint16_t port) {
    const auto* request = reinterpret_cast<const uint8_t*>(kDiscoveryRequest);
    for (uint32_t target : targets) socket.sendTo(request, kDiscoveryRequestBytes, target, port);
}

// One byte more than a reply may have: a datagram that fills it was too long. Windows fails
// such a receive and POSIX cuts it short; both are dropped the same way.
using ReplyBuffer = uint8_t[kDiscoveryReplyBytes + 1];

// The announcements by sender, beside the messages: a window message's text would take the
// place of its lParam, the sender, on Windows.
std::mutex announcementsMutex;
std::map<uint32_t, DiscoveryAnnouncement> announcements;

void rememberAnnouncement(uint32_t sender, DiscoveryAnnouncement announcement) {
    std::lock_guard lock(announcementsMutex);
    announcements[sender] = std::move(announcement);
}

void receiveReplies(platform::Socket& socket, platform::WindowHandle window, const std::atomic<bool>& stop,
                    const std::vector<platform::InterfaceAddress>& table, const std::string& prefix,
                    uint32_t attempts) {
    ReplyBuffer buffer;
    for (uint32_t attempt = 0; attempt < attempts && !stop.load(); ++attempt) {
        uint32_t sender = 0;
        const int32_t count = socket.receiveFrom(buffer, sizeof buffer, &sender, nullptr);
        if (count < 0 || count > static_cast<int32_t>(kDiscoveryReplyBytes)) return;
        uint32_t modeFlags = 0;
        if (count == 0 || !parseDiscoveryReply(buffer, static_cast<size_t>(count), prefix, modeFlags)) continue;
        const uint32_t flags = classifySender(sender, table) | modeFlags;
        rememberAnnouncement(sender, announcementOf(buffer, static_cast<size_t>(count)));
        platform::postWindowMessage(window, {WMU_NETWORK_UNIT_FOUND, flags, static_cast<intptr_t>(sender), {}});
    }
}

}  // namespace

void runNetworkDiscovery(platform::WindowHandle window, const std::atomic<bool>& stop,
                         const NetworkDiscoverySettings& settings) {
    const std::string prefix = announcePrefixBytes(announcePrefix());
    platform::Socket socket;
    if (!prepareSocket(socket, settings.receiveTimeoutMs)) return;
    const std::vector<platform::InterfaceAddress> table = platform::interfaceAddresses();
    if (table.empty()) return;
    const std::vector<uint32_t> targets = broadcastTargets(table);
    while (!stop.load()) {
        sendRequests(socket, targets, settings.port);
        receiveReplies(socket, window, stop, table, prefix, settings.receiveAttempts);
        if (!stop.load()) platform::sleepMs(settings.pauseMs);
    }
}

void ip_discover_thread(platform::WindowHandle window) { runNetworkDiscovery(window, discoveryStop); }

DiscoveryAnnouncement announcementFrom(uint32_t address) {
    std::lock_guard lock(announcementsMutex);
    const auto found = announcements.find(address);
    return found == announcements.end() ? DiscoveryAnnouncement{} : found->second;
}
