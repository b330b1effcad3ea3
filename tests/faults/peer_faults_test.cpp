// Misbehaving peers on loopback: a command port that talks without end, one that accepts and
// never answers, and a flood of discovery replies from many addresses. Each must end within
// its time budget and keep memory bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "commandport/command_port.h"
#include "content/content_globals.h"
#include "discovery/discovery_threads.h"
#include "platform/network.h"
#include "platform/network_interfaces.h"
#include "platform/sockets.h"
#include "tests/faults/timed_pump.h"
#include "tests/support/networked_suite.h"
#include "transport/ethernet_transport.h"
#include "ui/worker_messages.h"

using platform::ipv4Address;
using std::chrono::milliseconds;

namespace {

// Memory a misbehaving peer may cost the process, beyond what it had before.
constexpr long kRssGrowthLimitKb = 16 * 1024;

long long msSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start).count();
}

// A TCP command port on 127.0.0.1 that accepts one connection and then either sends `babble`
// over and over (never a ">") or stays silent, until the connection ends or 20 s have passed.
class CommandPortPeer {
public:
    explicit CommandPortPeer(std::string babble) : babble_(std::move(babble)) {
        listener_.openTcp();
        listener_.bind(ipv4Address(127, 0, 0, 1), 0);
        listener_.listen();
        thread_ = std::thread([this] { serve(); });
    }
    ~CommandPortPeer() {
        done_ = true;
        thread_.join();
    }
    uint16_t port() const { return listener_.localPort(); }
    long long bytesSent() const { return sent_.load(); }

private:
    void serve() {
        const auto deadline = SteadyClock::now() + std::chrono::seconds(20);
        platform::Socket connection = listener_.accept(5000);
        if (!connection.isOpen()) return;
        std::vector<uint8_t> block;
        while (!babble_.empty() && block.size() < 4096) block.insert(block.end(), babble_.begin(), babble_.end());
        while (!done_.load() && SteadyClock::now() < deadline) {
            if (babble_.empty()) {
                std::this_thread::sleep_for(milliseconds(20));
                continue;
            }
            const int32_t count = connection.send(block.data(), static_cast<uint32_t>(block.size()));
            if (count < 0) return;
            sent_ += count;
        }
    }

    std::string babble_;
    platform::Socket listener_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<long long> sent_{0};
};

class PeerFaults : public NetworkedSuite {};

// One query over a fresh connection to the peer; returns whether it got a reply.
bool queryPeer(uint16_t port, uint32_t timeoutMs) {
    EthernetTransportTCP transport(ipv4Address(127, 0, 0, 1), port);
    if (!transport.open()) return false;
    char reply[kQueryReplyBytes];
    const bool answered = queryCommandPort(transport, reply, timeoutMs);
    transport.close();
    return answered;
}

}  // namespace

TEST_F(PeerFaults, EndlessBytesWithoutClosingAreNoReplyInBoundedTimeAndMemory) {
    for (const char* babble : {"noise without any closing bracket ", "<sy,bq = ue and never closed "}) {
        CommandPortPeer peer(babble);
        const long before = peakResidentKb();
        const auto start = SteadyClock::now();
        EXPECT_FALSE(queryPeer(peer.port(), kCommandPortTimeoutMs)) << babble;
        const long long ms = msSince(start);
        std::printf("endless bytes (%s...): no reply after %lld ms, %lld bytes offered, peak RSS +%ld kB\n",
                    std::string(babble, 8).c_str(), ms, peer.bytesSent(), peakResidentKb() - before);
        EXPECT_LT(ms, kCommandPortTimeoutMs + 1500);
        EXPECT_GT(peer.bytesSent(), 0);
        EXPECT_LT(peakResidentKb() - before, kRssGrowthLimitKb);
    }
}

TEST_F(PeerFaults, PeerThatAcceptsAndNeverAnswersIsNoReply) {
    CommandPortPeer peer("");
    const auto start = SteadyClock::now();
    EXPECT_FALSE(queryPeer(peer.port(), kCommandPortTimeoutMs));
    EXPECT_LT(msSince(start), kCommandPortTimeoutMs + 1500);
}

TEST_F(PeerFaults, EnterBootloadAgainstASilentPeerFindsNoUnit) {
    CommandPortPeer peer("");
    const uint32_t savedPort = parserPort.load();
    parserPort = peer.port();
    const auto start = SteadyClock::now();
    EXPECT_EQ(enterBootload(UnitAddress::network(ipv4Address(127, 0, 0, 1)), "1234"),
              EnterBootloadResult::kUnitNotFound);
    EXPECT_LT(msSince(start), kCommandPortTimeoutMs + 1500);
    parserPort = savedPort;
}

namespace {

const std::string kFloodReply = "ZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Bootload\r\n";

// Learns the discovery socket's port from its first request on 127.0.0.1, then sends replies
// from 127.0.<1..8>.<1..25> at about `perSecond` in total until stopped or `seconds` are up.
class DiscoveryFlooder {
public:
    DiscoveryFlooder(int perSecond, int seconds) : perSecond_(perSecond), seconds_(seconds) {
        listener_.openUdp();
        listener_.setReceiveTimeout(50);
        listener_.bind(ipv4Address(127, 0, 0, 1), 0);
        for (uint8_t c = 1; c <= 8; ++c) {
            for (uint8_t d = 1; d <= 25; ++d) {
                platform::Socket sender;
                if (sender.openUdp() && sender.bind(ipv4Address(127, 0, c, d), 0))
                    senders_.push_back(std::move(sender));
            }
        }
        thread_ = std::thread([this] { flood(); });
    }
    ~DiscoveryFlooder() {
        done_ = true;
        thread_.join();
    }
    uint16_t port() const { return listener_.localPort(); }
    int requests() const { return requests_.load(); }
    long long sent() const { return sent_.load(); }
    size_t senders() const { return senders_.size(); }

private:
    void flood() {
        const auto start = SteadyClock::now();
        const auto deadline = start + std::chrono::seconds(seconds_);
        uint8_t buffer[512];
        uint16_t target = 0;
        while (!done_.load() && SteadyClock::now() < deadline) {
            uint16_t from = 0;
            while (listener_.receiveFrom(buffer, sizeof buffer, nullptr, &from) > 0) {
                target = from;
                ++requests_;
            }
            if (target == 0 || senders_.empty()) continue;
            // Catch up with the rate in bursts, one datagram per sender in turn.
            const long long due = perSecond_ * msSince(start) / 1000;
            for (long long i = sent_.load(); i < due && !done_.load(); ++i) {
                senders_[static_cast<size_t>(i) % senders_.size()].sendTo(
                    reinterpret_cast<const uint8_t*>(kFloodReply.data()), static_cast<uint32_t>(kFloodReply.size()),
                    ipv4Address(127, 0, 0, 1), target);
                ++sent_;
            }
        }
    }

    int perSecond_;
    int seconds_;
    platform::Socket listener_;
    std::vector<platform::Socket> senders_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> requests_{0};
    std::atomic<long long> sent_{0};
};

}  // namespace

// The one interface entry 127.0.0.0/31 makes 127.0.0.1 the only directed broadcast, so every
// request stays on loopback. The thread reads at most ten replies a cycle whatever arrives.
TEST_F(PeerFaults, DiscoveryFloodIsReadTenACycleInBoundedMemory) {
    platform::setInterfaceSourceForTesting([] {
        return std::vector<platform::InterfaceAddress>{{ipv4Address(127, 0, 0, 0), ipv4Address(255, 255, 255, 254)}};
    });
    DiscoveryFlooder flooder(10000, 15);
    ASSERT_GT(flooder.senders(), 100u);
    NetworkDiscoverySettings settings;
    settings.port = flooder.port();
    settings.pauseMs = 100;

    platform::MessageQueue window;
    std::atomic<bool> stop{false};
    const long before = peakResidentKb();
    std::thread discovery([&] { runNetworkDiscovery(&window, stop, settings); });
    size_t reports = 0;
    const auto start = SteadyClock::now();
    platform::WindowMessage m;
    while (msSince(start) < 3000) {
        if (window.receive(m, 20)) reports += m.id == WMU_NETWORK_UNIT_FOUND;
    }
    const auto stopAsked = SteadyClock::now();
    stop = true;
    discovery.join();
    const long long stopMs = msSince(stopAsked);
    while (window.receive(m, 0)) reports += m.id == WMU_NETWORK_UNIT_FOUND;
    platform::setInterfaceSourceForTesting(nullptr);

    const int cycles = flooder.requests();
    std::printf(
        "discovery flood: %lld replies sent in 3 s from %zu addresses, %d cycles, %zu reports, stop took "
        "%lld ms, peak RSS +%ld kB\n",
        flooder.sent(), flooder.senders(), cycles, reports, stopMs, peakResidentKb() - before);
    EXPECT_GT(flooder.sent(), 10000);
    EXPECT_GT(reports, 0u);
    EXPECT_LE(reports, 10u * static_cast<size_t>(cycles));
    EXPECT_LT(stopMs, 2500);
    EXPECT_LT(peakResidentKb() - before, kRssGrowthLimitKb);
}
