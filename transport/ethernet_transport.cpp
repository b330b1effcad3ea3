// UDP and TCP transports on the platform's sockets.
#include "transport/ethernet_transport.h"

#include <algorithm>

#include "platform/alert.h"
#include "ui/ui_strings.h"

namespace {

// Enough to empty any receive buffer of stale replies, few enough that a flood cannot hold us.
constexpr uint32_t kMaxDiscardedReceives = 64;

void showSocketAlert(unsigned textId) { platform::showAlert(uiString(textId), uiString(104)); }

uint16_t countOf(int32_t received) { return received > 0 ? static_cast<uint16_t>(received) : 0; }

uint32_t readCapacity(uint32_t capacity) { return std::min<uint32_t>(capacity, UINT16_MAX); }

}  // namespace

EthernetTransport::EthernetTransport(uint32_t address, uint16_t destinationPort)
    : address_(address), destinationPort_(destinationPort) {}

bool EthernetTransport::open() {
    if (!socket_.openUdp()) {
        showSocketAlert(106);
        return false;
    }
    if (!socket_.setReceiveTimeout(kUdpReadTimeoutMs)) {
        socket_.close();
        showSocketAlert(107);
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

uint16_t EthernetTransport::read(uint8_t* buffer, uint32_t capacity) {
    return countOf(socket_.receive(buffer, readCapacity(capacity)));
}

void EthernetTransport::discardPendingInput() { socket_.discardPending(kMaxDiscardedReceives); }

EthernetTransportTCP::EthernetTransportTCP(uint32_t address, uint32_t port)
    : address_(address), port_(port == 0 ? kDefaultCommandPort : port) {}

bool EthernetTransportTCP::open() {
    if (!socket_.openTcp()) {
        showSocketAlert(106);
        return false;
    }
    if (!socket_.setReceiveTimeout(kTcpReadTimeoutMs) || !socket_.setLingerOff()) {
        socket_.close();
        showSocketAlert(107);
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

uint16_t EthernetTransportTCP::read(uint8_t* buffer, uint32_t capacity) {
    return countOf(socket_.receive(buffer, readCapacity(capacity)));
}

void EthernetTransportTCP::discardPendingInput() { socket_.discardPending(kMaxDiscardedReceives); }
