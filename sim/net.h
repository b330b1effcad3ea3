// Loopback-or-any IPv4 sockets for the simulator's services. Addresses and ports are in host
// byte order. Every socket is non-blocking; fd() is for the host's readiness wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/unique_fd.h"

struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

bool parseIpv4(const std::string& text, uint32_t& address);
std::string formatIpv4(uint32_t address);
// The directed-broadcast address of the interface that holds `address`; false when no
// interface holds it or the interface has none.
bool broadcastAddressOf(uint32_t address, uint32_t& broadcast);

class UdpSocket {
public:
    // Port 0 picks a free port; localPort() tells which. `shared` lets several sockets bind
    // the same broadcast address, each receiving every broadcast.
    bool open(const Endpoint& local, std::string& error, bool shared = false);
    int fd() const { return fd_.get(); }
    uint16_t localPort() const { return port_; }
    // One datagram; returns its length, or -1 when none is waiting.
    long receive(uint8_t* buffer, size_t capacity, Endpoint& from);
    bool send(const uint8_t* bytes, size_t count, const Endpoint& to);

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};

class TcpConnection {
public:
    explicit TcpConnection(int fd) : fd_(fd) {}

    int fd() const { return fd_.get(); }
    // Bytes read; 0 when the peer closed; -1 when nothing is waiting; -2 on a reset.
    long receive(uint8_t* buffer, size_t capacity);
    bool send(const uint8_t* bytes, size_t count);

private:
    UniqueFd fd_;
};

class TcpListener {
public:
    bool open(const Endpoint& local, std::string& error);
    void close() { fd_.reset(); }
    bool isOpen() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    uint16_t localPort() const { return port_; }
    // A new connection's descriptor, or -1.
    int accept();

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};
