// The byte transports over IPv4: UDP to a unit's bootloader, TCP to its command port.
#pragma once

#include <cstdint>

#include "platform/sockets.h"
#include "transport/transport.h"

constexpr uint16_t kBootloaderUdpPort = 6234;

// Whether a datagram from `sender` may be the unit's (both in network byte order).
bool isFromUnit(uint32_t sender, uint32_t unit);
// The unit's TCP command port ("Parser Port") unless the installer sets another.
constexpr uint32_t kDefaultParserPort = 4999;
constexpr uint32_t kUdpReadTimeoutMs = 10;
constexpr uint32_t kTcpReadTimeoutMs = 250;
// A unit that does not accept the connection within this time is taken as absent.
constexpr uint32_t kTcpConnectTimeoutMs = 3000;

// Bootloader frames in UDP datagrams: one write is one datagram, one read one datagram.
// The socket is not bound; the OS picks the local port at the first send.
class EthernetTransport : public Transport {
public:
    // address: the unit's IPv4 address in network byte order.
    explicit EthernetTransport(uint32_t address, uint16_t destinationPort = kBootloaderUdpPort);
    ~EthernetTransport() override = default;

    // Socket and option failures are shown through the alert hook; a failed open holds no socket.
    bool open() override;
    bool isOpen() override { return socket_.isOpen(); }
    bool close() override;
    // Send errors are not reported: a lost datagram surfaces as a missing reply.
    bool write(const uint8_t* data, uint32_t length) override;
    // Accepts a datagram from any sender.
    uint16_t read(uint8_t* buffer, uint32_t capacity) override;
    // Waits less than a whole read when asked: an early resend is due at its own deadline.
    uint16_t readWithin(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    TransportKind transportKind() override { return TransportKind::kUdp; }
    uint32_t readTimeoutMs() const override { return kUdpReadTimeoutMs; }
    bool discardPendingInput() override;

    virtual uint32_t address() { return address_; }
    uint16_t destinationPort() const { return destinationPort_; }

private:
    platform::Socket socket_;
    uint32_t address_;
    uint16_t destinationPort_;
};

// The unit's text command port over one TCP connection.
class EthernetTransportTCP : public Transport {
public:
    // address in network byte order; port in host byte order, 0 meaning kDefaultParserPort.
    EthernetTransportTCP(uint32_t address, uint32_t port);
    ~EthernetTransportTCP() override = default;

    // Socket and option failures are shown through the alert hook; a refused, unreachable or
    // slow connection fails silently. A failed open holds no socket.
    bool open() override;
    bool isOpen() override { return socket_.isOpen(); }
    bool close() override;
    // False on a socket error; a partial send counts as sent.
    bool write(const uint8_t* data, uint32_t length) override;
    // 0 on time-out, error, or when the unit has closed the connection (then at once).
    uint16_t read(uint8_t* buffer, uint32_t capacity) override;
    TransportKind transportKind() override { return TransportKind::kTcp; }
    uint32_t readTimeoutMs() const override { return kTcpReadTimeoutMs; }
    bool discardPendingInput() override;

    virtual uint32_t address() { return address_; }
    uint32_t port() const { return port_; }

private:
    uint32_t address_;
    uint32_t port_;
    platform::Socket socket_;
};
