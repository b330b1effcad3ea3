// The simulator's event loop: poll over every unit's sockets and pseudo-terminal, with replies
// held until their due time and serial bytes paced at the line rate when asked.
#include <poll.h>
#include <time.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "sim/host.h"
#include "sim/line_pacer.h"
#include "sim/net.h"
#include "sim/pty.h"

namespace {

constexpr uint32_t kSerialBitsPerSecond = 115200;
constexpr int kLongestWaitMs = 100;  // bounds how late a signal is noticed
constexpr size_t kReadSize = 4096;
constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kUsPerSecond = 1000 * kUsPerMs;
constexpr long kNsPerUs = 1000;

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int) { stopRequested = 1; }

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

uint64_t nowUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

struct Datagram {
    uint64_t dueMs;
    std::vector<uint8_t> bytes;
    Endpoint to;
};

struct Connection {
    std::unique_ptr<TcpConnection> socket;
    std::string pending;
};

// One unit with its open services.
struct UnitHost {
    SimUnit* unit;
    UnitEndpoints endpoints;
    UdpSocket bootloader;
    UdpSocket discovery;
    // Sockets bound to a specific address miss broadcasts; this one catches them for it.
    UdpSocket discoveryBroadcast;
    bool hasBroadcastSocket = false;
    TcpListener commandPort;
    std::vector<Connection> connections;
    PseudoTerminal serial;
    LinePacer serialIn;
    LinePacer serialOut;
    std::vector<Datagram> datagrams;
    std::vector<Outgoing> serialReplies;
};

void printLine(const HostOptions& options, size_t index, const std::string& text) {
    if (options.labelUnits) std::printf("unit %zu ", index);
    std::printf("%s\n", text.c_str());
}

bool openServices(UnitHost& host, size_t index, const HostOptions& options) {
    const UnitEndpoints& e = host.endpoints;
    std::string where = formatIpv4(e.address) + ":";
    std::string error;
    if (e.udp) {
        if (!host.bootloader.open({e.address, e.udpPort}, error)) goto failed;
        printLine(options, index, "udp " + where + std::to_string(host.bootloader.localPort()));
    }
    if (e.discovery) {
        if (!host.discovery.open({e.address, e.discoveryPort}, error)) goto failed;
        printLine(options, index, "discovery " + where + std::to_string(host.discovery.localPort()));
        uint32_t broadcast = 0;
        if (e.address != 0 && broadcastAddressOf(e.address, broadcast)) {
            Endpoint shared{broadcast, host.discovery.localPort()};
            if (!host.discoveryBroadcast.open(shared, error, true)) goto failed;
            host.hasBroadcastSocket = true;
        }
    }
    if (e.tcp) {
        if (!host.commandPort.open({e.address, e.tcpPort}, error)) goto failed;
        printLine(options, index, "tcp " + where + std::to_string(host.commandPort.localPort()));
        if (!host.unit->commandPortOpen()) host.commandPort.close();
    }
    if (e.serial) {
        if (!host.serial.open(e.serialLink, error)) goto failed;
        printLine(options, index, "serial " + host.serial.slavePath());
    }
    return true;
failed:
    std::fprintf(stderr, "zt-unit-sim: unit %zu: %s\n", index, error.c_str());
    return false;
}

// Opens or closes the command port as the unit's mode changes; a restart drops connections.
void followMode(UnitHost& host) {
    if (!host.endpoints.tcp) return;
    bool wanted = host.unit->commandPortOpen();
    if (!wanted && host.commandPort.isOpen()) {
        host.commandPort.close();
        host.connections.clear();
    } else if (wanted && !host.commandPort.isOpen()) {
        std::string error;
        if (!host.commandPort.open({host.endpoints.address, host.commandPort.localPort()}, error)) {
            std::fprintf(stderr, "zt-unit-sim: %s\n", error.c_str());
        }
    }
}

void sendDue(UnitHost& host, uint64_t now) {
    uint64_t nowMs = now / 1000;
    auto datagramDue = [&](const Datagram& d) { return d.dueMs <= nowMs; };
    for (const Datagram& d : host.datagrams) {
        if (datagramDue(d)) host.bootloader.send(d.bytes.data(), d.bytes.size(), d.to);
    }
    std::erase_if(host.datagrams, datagramDue);
    auto replyDue = [&](const Outgoing& o) { return o.dueMs <= nowMs; };
    for (const Outgoing& o : host.serialReplies) {
        if (replyDue(o)) host.serialOut.push(o.bytes.data(), o.bytes.size(), now);
    }
    std::erase_if(host.serialReplies, replyDue);
    std::vector<uint8_t> bytes = host.serialOut.takeDue(now);
    if (!bytes.empty()) host.serial.write(bytes.data(), bytes.size());
}

void deliverSerialInput(UnitHost& host, uint64_t now) {
    if (host.unit->busy(now / 1000)) return;
    std::vector<uint8_t> bytes = host.serialIn.takeDue(now);
    if (bytes.empty()) return;
    bool text = host.unit->mode() == UnitMode::Application;
    for (Outgoing& o : host.unit->onSerialBytes(bytes.data(), bytes.size(), now / 1000)) {
        if (text) o.bytes.insert(o.bytes.end(), {'\r', '\n'});
        host.serialReplies.push_back(std::move(o));
    }
}

bool idle(const UnitHost& host) {
    return host.datagrams.empty() && host.serialReplies.empty() && host.serialOut.empty();
}

uint64_t nextDeadlineUs(const UnitHost& host, uint64_t now) {
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (const Datagram& d : host.datagrams) next = std::min(next, d.dueMs * 1000);
    for (const Outgoing& o : host.serialReplies) next = std::min(next, o.dueMs * 1000);
    if (!host.serialOut.empty()) next = std::min(next, host.serialOut.nextDueUs());
    if (!host.serialIn.empty()) {
        next = std::min(next, std::max(host.serialIn.nextDueUs(), host.unit->busyUntilMs() * 1000));
    }
    // A busy unit's socket is not watched, so the loop must wake when the unit is free again,
    // even when the reply it worked on was lost and nothing else is due.
    if (host.unit->busy(now / 1000)) next = std::min(next, host.unit->busyUntilMs() * 1000);
    uint64_t event = host.unit->nextEventMs();
    if (event != std::numeric_limits<uint64_t>::max()) next = std::min(next, event * 1000);
    return std::max(next, now);
}

void readBootloader(UnitHost& host, uint64_t now) {
    uint8_t buffer[kReadSize];
    Endpoint from;
    long got = host.bootloader.receive(buffer, sizeof buffer, from);
    if (got <= 0) return;
    for (Outgoing& o : host.unit->onBootloaderDatagram(buffer, static_cast<size_t>(got), now / 1000)) {
        // A reply due now leaves at once rather than on the next turn of the loop.
        if (o.dueMs <= now / 1000 && host.datagrams.empty()) {
            host.bootloader.send(o.bytes.data(), o.bytes.size(), from);
        } else {
            host.datagrams.push_back({o.dueMs, std::move(o.bytes), from});
        }
    }
}

// Replies always leave from the unit's own socket, so they carry its address and port.
void readDiscovery(UnitHost& host, UdpSocket& socket) {
    uint8_t buffer[512];
    Endpoint from;
    long got = socket.receive(buffer, sizeof buffer, from);
    if (got <= 0) return;
    std::string reply = host.unit->onDiscovery(buffer, static_cast<size_t>(got));
    if (!reply.empty()) {
        host.discovery.send(reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), from);
    }
}

void readConnection(UnitHost& host, Connection& connection, uint64_t now) {
    uint8_t buffer[kReadSize];
    long got = connection.socket->receive(buffer, sizeof buffer);
    if (got == -1) return;
    if (got <= 0) {
        connection.socket.reset();
        return;
    }
    for (const std::string& reply :
         host.unit->onCommandText(connection.pending, buffer, static_cast<size_t>(got), now / 1000)) {
        std::string line = reply + "\r\n";
        connection.socket->send(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    }
}

void readSerial(UnitHost& host, uint64_t now) {
    uint8_t buffer[kReadSize];
    long got = host.serial.read(buffer, sizeof buffer);
    if (got > 0) host.serialIn.push(buffer, static_cast<size_t>(got), now);
}

// What a watched descriptor is to its unit: one of its services, or one of its command-port
// connections by index.
enum class Role { kBootloader, kDiscovery, kDiscoveryBroadcast, kListener, kSerial, kConnection };

struct Watched {
    UnitHost* host;
    Role role;
    size_t connection;
};

void acceptConnection(UnitHost& host) {
    int fd = host.commandPort.accept();
    if (fd >= 0) host.connections.push_back({std::make_unique<TcpConnection>(fd), {}});
}

void handleReadable(const Watched& watched, uint64_t now) {
    UnitHost& host = *watched.host;
    switch (watched.role) {
        case Role::kBootloader: readBootloader(host, now); break;
        case Role::kDiscovery: readDiscovery(host, host.discovery); break;
        case Role::kDiscoveryBroadcast: readDiscovery(host, host.discoveryBroadcast); break;
        case Role::kSerial: readSerial(host, now); break;
        case Role::kListener: acceptConnection(host); break;
        case Role::kConnection: {
            Connection& connection = host.connections[watched.connection];
            if (connection.socket) readConnection(host, connection, now);
            break;
        }
    }
}

constexpr uint64_t kProgressWriteUs = 20000;

std::string progressText(const std::vector<std::unique_ptr<UnitHost>>& hosts) {
    std::string text;
    for (size_t i = 0; i < hosts.size(); ++i) {
        const BootloaderStats& stats = hosts[i]->unit->bootloader().stats();
        text += "unit " + std::to_string(i) + " progress " +
                std::to_string(stats.recordsProgrammed + stats.chunkBytesProgrammed) + " close_received " +
                (stats.closeReceived ? "1" : "0") + "\n";
    }
    return text;
}

// Written aside and renamed, so that a reader never sees half a file; at most every 20 ms and
// only when it changed.
class ProgressFile {
public:
    explicit ProgressFile(std::string path) : path_(std::move(path)) {}
    void update(const std::vector<std::unique_ptr<UnitHost>>& hosts, uint64_t now, bool force = false) {
        if (path_.empty() || (!force && now - writtenAt_ < kProgressWriteUs)) return;
        std::string text = progressText(hosts);
        if (text == written_) return;
        const std::string aside = path_ + ".new";
        std::ofstream(aside, std::ios::trunc) << text;
        if (std::rename(aside.c_str(), path_.c_str()) != 0) return;
        written_ = std::move(text);
        writtenAt_ = now;
    }

private:
    std::string path_;
    std::string written_;
    uint64_t writtenAt_ = 0;
};

void serve(std::vector<std::unique_ptr<UnitHost>>& hosts, const HostOptions& options) {
    ProgressFile progress(options.progressFile);
    uint64_t start = nowUs();
    uint64_t stopAt = options.runSeconds > 0 ? start + static_cast<uint64_t>(options.runSeconds * kUsPerSecond)
                                             : std::numeric_limits<uint64_t>::max();
    while (!stopRequested) {
        uint64_t now = nowUs();
        uint64_t deadline = stopAt;
        bool allClosed = true;
        for (auto& host : hosts) {
            host->unit->tick(now / 1000);
            followMode(*host);
            sendDue(*host, now);
            deliverSerialInput(*host, now);
            allClosed = allClosed && host->unit->closeReceived() && idle(*host);
            deadline = std::min(deadline, nextDeadlineUs(*host, now));
        }
        progress.update(hosts, now);
        if (now >= stopAt || (options.exitAfterClose && allClosed)) break;

        std::vector<pollfd> fds;
        std::vector<Watched> owners;
        auto watch = [&](UnitHost* host, int fd, Role role, size_t connection = 0) {
            fds.push_back({fd, POLLIN, 0});
            owners.push_back({host, role, connection});
        };
        for (auto& host : hosts) {
            std::erase_if(host->connections, [](const Connection& c) { return !c.socket; });
            if (host->endpoints.udp && !host->unit->busy(now / 1000)) {
                watch(host.get(), host->bootloader.fd(), Role::kBootloader);
            }
            if (host->endpoints.discovery) watch(host.get(), host->discovery.fd(), Role::kDiscovery);
            if (host->hasBroadcastSocket) {
                watch(host.get(), host->discoveryBroadcast.fd(), Role::kDiscoveryBroadcast);
            }
            if (host->commandPort.isOpen()) watch(host.get(), host->commandPort.fd(), Role::kListener);
            for (size_t i = 0; i < host->connections.size(); ++i) {
                watch(host.get(), host->connections[i].socket->fd(), Role::kConnection, i);
            }
            if (host->endpoints.serial) watch(host.get(), host->serial.fd(), Role::kSerial);
        }
        uint64_t waitUs = deadline > now ? deadline - now : 0;
        // Microsecond waits: a paced serial line is due every 87 us a byte, and rounding each
        // wait up to a millisecond would slow it by that much on every turn.
        waitUs = std::min<uint64_t>(waitUs, kLongestWaitMs * kUsPerMs);
        timespec wait{static_cast<time_t>(waitUs / kUsPerSecond), static_cast<long>(waitUs % kUsPerSecond) * kNsPerUs};
        if (ppoll(fds.data(), fds.size(), &wait, nullptr) <= 0) continue;
        now = nowUs();
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            handleReadable(owners[i], now);
        }
    }
    progress.update(hosts, nowUs(), true);
}

}  // namespace

HostResult runHost(std::vector<SimUnit*>& units, const std::vector<UnitEndpoints>& endpoints,
                   const HostOptions& options) {
    installSignalHandlers();
    uint32_t rate = options.paceSerial ? kSerialBitsPerSecond : 0;
    std::vector<std::unique_ptr<UnitHost>> hosts;
    for (size_t i = 0; i < units.size(); ++i) {
        auto host = std::make_unique<UnitHost>();
        host->unit = units[i];
        host->endpoints = endpoints[i];
        host->serialIn = LinePacer(rate);
        host->serialOut = LinePacer(rate);
        if (!openServices(*host, i, options)) return HostResult::StartFailed;
        hosts.push_back(std::move(host));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    serve(hosts, options);
    return HostResult::Stopped;
}
