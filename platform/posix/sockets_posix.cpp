// Sockets (POSIX): BSD sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sockets.h"

namespace platform {

namespace {

int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

sockaddr_in endpoint(uint32_t address, uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = address;
    return where;
}

bool setFlag(int fd, int level, int option, bool on) {
    int value = on ? 1 : 0;
    return setsockopt(fd, level, option, &value, sizeof value) == 0;
}

// True when fd becomes ready for `events` within timeoutMs.
bool waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool setNonBlocking(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

int32_t countOrError(ssize_t result) { return result < 0 ? -1 : static_cast<int32_t>(result); }

}  // namespace

bool Socket::openUdp() {
    close();
    handle_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return isOpen();
}

bool Socket::openTcp() {
    close();
    handle_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return isOpen();
}

void Socket::close() {
    if (!isOpen()) return;
    ::close(fdOf(handle_));
    handle_ = kClosed;
}

bool Socket::setReceiveTimeout(uint32_t ms) {
    timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    return isOpen() && setsockopt(fdOf(handle_), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool Socket::setLingerOff() {
    linger off{};
    return isOpen() && setsockopt(fdOf(handle_), SOL_SOCKET, SO_LINGER, &off, sizeof off) == 0;
}

bool Socket::setBroadcast(bool on) { return isOpen() && setFlag(fdOf(handle_), SOL_SOCKET, SO_BROADCAST, on); }

bool Socket::setDoNotRoute(bool on) { return isOpen() && setFlag(fdOf(handle_), SOL_SOCKET, SO_DONTROUTE, on); }

bool Socket::bind(uint32_t address, uint16_t port) {
    sockaddr_in where = endpoint(address, port);
    return isOpen() && ::bind(fdOf(handle_), reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
}

uint16_t Socket::localPort() const {
    sockaddr_in where{};
    socklen_t size = sizeof where;
    if (!isOpen() || getsockname(fdOf(handle_), reinterpret_cast<sockaddr*>(&where), &size) != 0) return 0;
    return ntohs(where.sin_port);
}

bool Socket::listen() { return isOpen() && ::listen(fdOf(handle_), 4) == 0; }

Socket Socket::accept(uint32_t timeoutMs) {
    Socket connection;
    if (isOpen() && waitFor(fdOf(handle_), POLLIN, static_cast<int>(timeoutMs))) {
        int fd = ::accept4(fdOf(handle_), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) connection.handle_ = fd;
    }
    return connection;
}

bool Socket::connect(uint32_t address, uint16_t port, uint32_t timeoutMs) {
    if (!isOpen()) return false;
    int fd = fdOf(handle_);
    sockaddr_in where = endpoint(address, port);
    if (!setNonBlocking(fd, true)) return false;
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    if (!connected && errno == EINPROGRESS && waitFor(fd, POLLOUT, static_cast<int>(timeoutMs))) {
        int error = 0;
        socklen_t size = sizeof error;
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    return setNonBlocking(fd, false) && connected;
}

int32_t Socket::sendTo(const uint8_t* data, uint32_t length, uint32_t address, uint16_t port) {
    if (!isOpen()) return -1;
    sockaddr_in where = endpoint(address, port);
    return countOrError(
        ::sendto(fdOf(handle_), data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&where), sizeof where));
}

// MSG_NOSIGNAL: a unit that dropped the connection must not end the program with SIGPIPE.
int32_t Socket::send(const uint8_t* data, uint32_t length) {
    if (!isOpen()) return -1;
    return countOrError(::send(fdOf(handle_), data, length, MSG_NOSIGNAL));
}

int32_t Socket::receive(uint8_t* buffer, uint32_t capacity) {
    if (!isOpen()) return -1;
    return countOrError(::recv(fdOf(handle_), buffer, capacity, 0));
}

int32_t Socket::receiveFrom(uint8_t* buffer, uint32_t capacity, uint32_t* address, uint16_t* port) {
    if (!isOpen()) return -1;
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    ssize_t count = ::recvfrom(fdOf(handle_), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender), &size);
    if (count >= 0 && address) *address = sender.sin_addr.s_addr;
    if (count >= 0 && port) *port = ntohs(sender.sin_port);
    return countOrError(count);
}

bool Socket::waitReadable(uint32_t ms) {
    if (!isOpen()) return false;
    pollfd watch{fdOf(handle_), POLLIN, 0};
    int ready;
    do {
        ready = poll(&watch, 1, static_cast<int>(ms));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

uint32_t Socket::discardPending(uint32_t maxReceives) {
    uint8_t scrap[2048];
    uint32_t receives = 0;
    while (isOpen() && receives < maxReceives) {
        ssize_t count = ::recv(fdOf(handle_), scrap, sizeof scrap, MSG_DONTWAIT);
        if (count <= 0) break;
        ++receives;
    }
    return receives;
}

}  // namespace platform
