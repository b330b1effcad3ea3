// UDP and TCP transports on the platform's sockets.
#include "transport/ethernet_transport.h"

#include <algorithm>

#include "platform/alert.h"
#include "ui/ui_strings.h"

namespace {

// Enough to empty any receive buffer of stale replies, few enough that a flood cannot hold us.
constexpr uint32_t kMaxDiscardedReceives = 64;
// Foreign datagrams one read drops before it gives up and reports nothing.
constexpr uint32_t kMaxForeignDatagramsPerRead = 64;

void showSocketAlert(UiStringId textId) { platform::showAlert(uiString(textId), uiString(kSocketErrorTitle)); }

uint16_t countOf(int32_t received) { return received > 0 ? static_cast<uint16_t>(received) : 0; }

uint32_t readCapacity(uint32_t capacity) { return std::min<uint32_t>(capacity, UINT16_MAX); }

// Addresses are in network byte order: the first byte is the first part.
constexpr uint8_t kLoopbackNet = 127;
bool isLoopback(uint32_t address) { return reinterpret_cast<const uint8_t*>(&address)[0] == kLoopbackNet; }

}  // namespace

EthernetTransport::EthernetTransport(uint32_t address, uint16_t destinationPort)
    : address_(address), destinationPort_(destinationPort) {}

bool EthernetTransport::open() {
    if (!socket_.openUdp()) {
        showSocketAlert(kSocketCreationFailed);
        return false;
    }
    if (!socket_.setReceiveTimeout(kUdpReadTimeoutMs)) {
        socket_.close();
        showSocketAlert(kReceiveTimeoutFailed);
        return false;
    }
    return true;
}

bool EthernetTransport::close() {
    socket_.close();
    return true;
}

bool EthernetTransport::write(const uint8_t* data, uint32_t length) {
    socket_.sendTo(data, length, address_, destinationPort_);
    return true;
}

// A unit on a loopback address is this host itself, whose loopback addresses some socket layers
// (Wine's among them) do not tell apart.
bool isFromUnit(uint32_t sender, uint32_t unit) { return sender == unit || (isLoopback(sender) && isLoopback(unit)); }

// Only the unit's own datagrams count: anything another host sends to our port is dropped, so
// that it can neither be taken for a reply nor keep a wait going.
uint16_t EthernetTransport::read(uint8_t* buffer, uint32_t capacity) {
    for (uint32_t i = 0; i < kMaxForeignDatagramsPerRead; ++i) {
        uint32_t sender = 0;
        const int32_t received = socket_.receiveFrom(buffer, readCapacity(capacity), &sender, nullptr);
        if (received < 0 || isFromUnit(sender, address_)) return countOf(received);
    }
    return 0;
}

uint16_t EthernetTransport::readWithin(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    if (timeoutMs < kUdpReadTimeoutMs && !socket_.waitReadable(timeoutMs)) return 0;
    return read(buffer, capacity);
}

bool EthernetTransport::discardPendingInput() { return socket_.discardPending(kMaxDiscardedReceives) > 0; }

EthernetTransportTCP::EthernetTransportTCP(uint32_t address, uint32_t port)
    : address_(address), port_(port == 0 ? kDefaultParserPort : port) {}

bool EthernetTransportTCP::open() {
    if (!socket_.openTcp()) {
        showSocketAlert(kSocketCreationFailed);
        return false;
    }
    if (!socket_.setReceiveTimeout(kTcpReadTimeoutMs) || !socket_.setLingerOff()) {
        socket_.close();
        showSocketAlert(kReceiveTimeoutFailed);
        return false;
    }
    if (!socket_.connect(address_, static_cast<uint16_t>(port_), kTcpConnectTimeoutMs)) {
        socket_.close();
        return false;
    }
    return true;
}

bool EthernetTransportTCP::close() {
    socket_.close();
    return true;
}

bool EthernetTransportTCP::write(const uint8_t* data, uint32_t length) { return socket_.send(data, length) >= 0; }

// A stream the unit has ended reads as empty at once for ever: close it, so that callers see
// the end instead of waiting out their budgets in a busy loop.
uint16_t EthernetTransportTCP::read(uint8_t* buffer, uint32_t capacity) {
    const int32_t received = socket_.receive(buffer, readCapacity(capacity));
    if (received == 0 && capacity > 0) socket_.close();
    return countOf(received);
}

bool EthernetTransportTCP::discardPendingInput() { return socket_.discardPending(kMaxDiscardedReceives) > 0; }
