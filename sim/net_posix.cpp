// BSD sockets behind the simulator's small socket classes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/net.h"

namespace {

// A /32 interface has no broadcast address.
constexpr uint32_t kSingleHostMask = 0xFFFFFFFF;

sockaddr_in toSockaddr(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void makeNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string describe(const char* kind, const Endpoint& endpoint) {
    return std::string("cannot bind ") + kind + " " + formatIpv4(endpoint.address) + ":" +
           std::to_string(endpoint.port) + ": " + std::strerror(errno);
}

// Creates, binds and (for TCP) listens; -1 with `error` set on failure.
int openBound(int type, const char* kind, const Endpoint& local, std::string& error, bool shared = false) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return -1;
    }
    int on = 1;
    if (type == SOCK_STREAM || shared) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = toSockaddr(local);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(fd, 8) != 0)) {
        error = describe(kind, local);
        ::close(fd);
        return -1;
    }
    makeNonBlocking(fd);
    return fd;
}

}  // namespace

bool parseIpv4(const std::string& text, uint32_t& address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    return true;
}

std::string formatIpv4(uint32_t address) {
    in_addr value{};
    value.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

bool broadcastAddressOf(uint32_t address, uint32_t& broadcast) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        uint32_t own = ntohl(reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        uint32_t mask = ntohl(reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
        // Loopback carries no broadcasts, but 127.0.0.2 and up are held by lo's 127.0.0.1/8.
        bool holds = own == address || ((entry->ifa_flags & IFF_LOOPBACK) && (own & mask) == (address & mask));
        if (holds && (entry->ifa_flags & IFF_BROADCAST) && mask != kSingleHostMask) {
            broadcast = (own & mask) | ~mask;
            found = true;
        }
    }
    freeifaddrs(list);
    return found;
}

bool UdpSocket::open(const Endpoint& local, std::string& error, bool shared) {
    fd_.reset(openBound(SOCK_DGRAM, "udp", local, error, shared));
    if (!fd_.valid()) return false;
    port_ = boundPort(fd_.get());
    return true;
}

long UdpSocket::receive(uint8_t* buffer, size_t capacity, Endpoint& from) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ssize_t got = recvfrom(fd_.get(), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&address), &length);
    if (got < 0) return -1;
    from.address = ntohl(address.sin_addr.s_addr);
    from.port = ntohs(address.sin_port);
    return got;
}

bool UdpSocket::send(const uint8_t* bytes, size_t count, const Endpoint& to) {
    sockaddr_in address = toSockaddr(to);
    return sendto(fd_.get(), bytes, count, 0, reinterpret_cast<sockaddr*>(&address), sizeof address) ==
           static_cast<ssize_t>(count);
}

long TcpConnection::receive(uint8_t* buffer, size_t capacity) {
    ssize_t got = recv(fd_.get(), buffer, capacity, 0);
    if (got >= 0) return got;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
}

bool TcpConnection::send(const uint8_t* bytes, size_t count) {
    return ::send(fd_.get(), bytes, count, MSG_NOSIGNAL) == static_cast<ssize_t>(count);
}

bool TcpListener::open(const Endpoint& local, std::string& error) {
    fd_.reset(openBound(SOCK_STREAM, "tcp", local, error));
    if (!fd_.valid()) return false;
    port_ = boundPort(fd_.get());
    return true;
}

int TcpListener::accept() { return accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK); }
