// Sockets (Windows): Winsock 2.
#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include "platform/sockets.h"

namespace platform {

namespace {

SOCKET socketOf(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

sockaddr_in endpoint(uint32_t address, uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = address;
    return where;
}

bool setFlag(SOCKET s, int level, int option, bool on) {
    BOOL value = on ? TRUE : FALSE;
    return setsockopt(s, level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

timeval limitOf(uint32_t ms) { return timeval{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)}; }

bool readable(SOCKET s, uint32_t timeoutMs) {
    fd_set reads;
    FD_ZERO(&reads);
    FD_SET(s, &reads);
    timeval limit = limitOf(timeoutMs);
    return select(0, &reads, nullptr, nullptr, &limit) > 0;
}

bool setNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}

// Without this, an ICMP "port unreachable" for an earlier datagram fails the next receive at
// once, where other systems simply wait for a datagram.
void ignoreUnreachableReports(SOCKET s) {
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

int32_t countOrError(int result) { return result == SOCKET_ERROR ? -1 : result; }

int lengthOf(uint32_t length) { return static_cast<int>(length > INT32_MAX ? INT32_MAX : length); }

}  // namespace

bool Socket::openUdp() {
    close();
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return false;
    ignoreUnreachableReports(s);
    handle_ = static_cast<std::intptr_t>(s);
    return true;
}

bool Socket::openTcp() {
    close();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    handle_ = static_cast<std::intptr_t>(s);
    return true;
}

void Socket::close() {
    if (!isOpen()) return;
    closesocket(socketOf(handle_));
    handle_ = kClosed;
}

// Windows takes the receive time-out as a DWORD of milliseconds, not a timeval.
bool Socket::setReceiveTimeout(uint32_t ms) {
    DWORD limit = ms;
    return isOpen() && setsockopt(socketOf(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                                  sizeof limit) == 0;
}

bool Socket::setLingerOff() {
    linger off{};
    return isOpen() &&
           setsockopt(socketOf(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off) == 0;
}

bool Socket::setBroadcast(bool on) { return isOpen() && setFlag(socketOf(handle_), SOL_SOCKET, SO_BROADCAST, on); }

bool Socket::setDoNotRoute(bool on) { return isOpen() && setFlag(socketOf(handle_), SOL_SOCKET, SO_DONTROUTE, on); }

bool Socket::bind(uint32_t address, uint16_t port) {
    sockaddr_in where = endpoint(address, port);
    return isOpen() && ::bind(socketOf(handle_), reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
}

uint16_t Socket::localPort() const {
    sockaddr_in where{};
    int size = sizeof where;
    if (!isOpen() || getsockname(socketOf(handle_), reinterpret_cast<sockaddr*>(&where), &size) != 0) return 0;
    return ntohs(where.sin_port);
}

bool Socket::listen() { return isOpen() && ::listen(socketOf(handle_), 4) == 0; }

Socket Socket::accept(uint32_t timeoutMs) {
    Socket connection;
    if (isOpen() && readable(socketOf(handle_), timeoutMs)) {
        SOCKET s = ::accept(socketOf(handle_), nullptr, nullptr);
        if (s != INVALID_SOCKET) connection.handle_ = static_cast<std::intptr_t>(s);
    }
    return connection;
}

bool Socket::connect(uint32_t address, uint16_t port, uint32_t timeoutMs) {
    if (!isOpen()) return false;
    SOCKET s = socketOf(handle_);
    sockaddr_in where = endpoint(address, port);
    if (!setNonBlocking(s, true)) return false;
    bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writes;
        fd_set failures;
        FD_ZERO(&writes);
        FD_ZERO(&failures);
        FD_SET(s, &writes);
        FD_SET(s, &failures);
        timeval limit = limitOf(timeoutMs);
        if (select(0, nullptr, &writes, &failures, &limit) > 0 && FD_ISSET(s, &writes)) {
            int error = 0;
            int size = sizeof error;
            connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && error == 0;
        }
    }
    return setNonBlocking(s, false) && connected;
}

int32_t Socket::sendTo(const uint8_t* data, uint32_t length, uint32_t address, uint16_t port) {
    if (!isOpen()) return -1;
    sockaddr_in where = endpoint(address, port);
    return countOrError(::sendto(socketOf(handle_), reinterpret_cast<const char*>(data), lengthOf(length), 0,
                                 reinterpret_cast<sockaddr*>(&where), sizeof where));
}

int32_t Socket::send(const uint8_t* data, uint32_t length) {
    if (!isOpen()) return -1;
    return countOrError(::send(socketOf(handle_), reinterpret_cast<const char*>(data), lengthOf(length), 0));
}

int32_t Socket::receive(uint8_t* buffer, uint32_t capacity) {
    if (!isOpen()) return -1;
    return countOrError(::recv(socketOf(handle_), reinterpret_cast<char*>(buffer), lengthOf(capacity), 0));
}

int32_t Socket::receiveFrom(uint8_t* buffer, uint32_t capacity, uint32_t* address, uint16_t* port) {
    if (!isOpen()) return -1;
    sockaddr_in sender{};
    int size = sizeof sender;
    int count = ::recvfrom(socketOf(handle_), reinterpret_cast<char*>(buffer), lengthOf(capacity), 0,
                           reinterpret_cast<sockaddr*>(&sender), &size);
    if (count != SOCKET_ERROR && address) *address = sender.sin_addr.s_addr;
    if (count != SOCKET_ERROR && port) *port = ntohs(sender.sin_port);
    return countOrError(count);
}

bool Socket::waitReadable(uint32_t ms) {
    if (!isOpen()) return false;
    WSAPOLLFD watch{socketOf(handle_), POLLRDNORM, 0};
    return WSAPoll(&watch, 1, static_cast<INT>(ms)) > 0;
}

uint32_t Socket::discardPending(uint32_t maxReceives) {
    char scrap[2048];
    uint32_t receives = 0;
    while (isOpen() && receives < maxReceives && readable(socketOf(handle_), 0)) {
        int count = ::recv(socketOf(handle_), scrap, sizeof scrap, 0);
        // An over-long datagram is dropped with WSAEMSGSIZE: it still counts as discarded.
        if (count == 0 || (count == SOCKET_ERROR && WSAGetLastError() != WSAEMSGSIZE)) break;
        ++receives;
    }
    return receives;
}

}  // namespace platform
