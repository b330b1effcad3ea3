// IPv4 UDP and TCP sockets with the options the transports and discovery need.
#pragma once

#include <cstdint>
#include <cstring>

namespace platform {

// An IPv4 address in network byte order from its four dotted parts.
inline uint32_t ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// One socket, released by close or the destructor; movable, not copyable. Addresses are in
// network byte order, ports in host byte order. Calls on a closed socket fail.
class Socket {
public:
    Socket() = default;
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            other.handle_ = kClosed;
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool openUdp();
    bool openTcp();
    bool isOpen() const { return handle_ != kClosed; }
    void close();

    // Receives give up after ms (SO_RCVTIMEO).
    bool setReceiveTimeout(uint32_t ms);
    // Close discards unsent data at once instead of lingering.
    bool setLingerOff();
    bool setBroadcast(bool on);
    bool setDoNotRoute(bool on);

    // Address 0 means any local address, port 0 a port the OS picks.
    bool bind(uint32_t address, uint16_t port);
    uint16_t localPort() const;
    bool listen();
    // The next pending connection, waiting at most timeoutMs; a closed socket when none came.
    Socket accept(uint32_t timeoutMs);
    // Connects within timeoutMs; the socket stays blocking afterwards.
    bool connect(uint32_t address, uint16_t port, uint32_t timeoutMs);

    // Byte counts sent or received; -1 on an error or a receive time-out. For a stream,
    // receive returns 0 when the peer has closed the connection.
    int32_t sendTo(const uint8_t* data, uint32_t length, uint32_t address, uint16_t port);
    int32_t send(const uint8_t* data, uint32_t length);
    int32_t receive(uint8_t* buffer, uint32_t capacity);
    // Like receive, and tells who sent the datagram (either pointer may be null).
    int32_t receiveFrom(uint8_t* buffer, uint32_t capacity, uint32_t* address, uint16_t* port);

    // True once something can be received, waiting at most ms: a wait shorter than the receive
    // time-out.
    bool waitReadable(uint32_t ms);

    // Receives without waiting until nothing is left, a stream has ended, or maxReceives
    // receives have been made (so that a flood cannot hold the caller). Returns the receives.
    uint32_t discardPending(uint32_t maxReceives);

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
};

}  // namespace platform
