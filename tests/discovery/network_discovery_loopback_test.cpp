// The network discovery loop against a responder on 127.0.0.1, reached through an interface
// table whose only entry (127.0.0.0/31) has 127.0.0.1 as its directed broadcast.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "content/content_globals.h"
#include "discovery/discovery_threads.h"
#include "platform/network.h"
#include "platform/sockets.h"
#include "tests/support/networked_suite.h"
#include "ui/worker_messages.h"

using platform::ipv4Address;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kApplicationReply = "ZT Unit\r\n00-1E\r\nTavin ZT Series - Application\r\n";
const std::string kBootloadReply = "ZT Unit\r\n00-1E\r\nTavin ZT Series - Bootload\r\n";

class LoopbackUnit {
public:
    explicit LoopbackUnit(std::vector<std::string> replies) : replies_(std::move(replies)) {
        socket_.openUdp();
        socket_.setReceiveTimeout(50);
        socket_.bind(ipv4Address(127, 0, 0, 1), 0);
        thread_ = std::thread([this] { answer(); });
    }
    ~LoopbackUnit() {
        done_ = true;
        thread_.join();
    }
    uint16_t port() const { return socket_.localPort(); }
    int requests() const { return requests_.load(); }
    int strayDatagrams() const { return stray_.load(); }

private:
    void answer() {
        // Bounded by time even if the test never sets done_.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        uint8_t buffer[512];
        while (!done_.load() && Clock::now() < deadline) {
            uint32_t from = 0;
            uint16_t fromPort = 0;
            const int32_t count = socket_.receiveFrom(buffer, sizeof buffer, &from, &fromPort);
            if (count < 0) continue;
            if (std::string(reinterpret_cast<char*>(buffer), count) != kDiscoveryRequest) {
                ++stray_;
                continue;
            }
            ++requests_;
            for (const std::string& reply : replies_) {
                socket_.sendTo(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<uint32_t>(reply.size()),
                               from, fromPort);
            }
        }
    }

    std::vector<std::string> replies_;
    platform::Socket socket_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> stray_{0};
};

struct Received {
    platform::WindowMessage message;
    Clock::time_point when;
};

class NetworkDiscoveryLoopbackTest : public NetworkedSuite {
protected:
    void SetUp() override {
        platform::setInterfaceSourceForTesting([] {
            return std::vector<platform::InterfaceAddress>{
                {ipv4Address(127, 0, 0, 0), ipv4Address(255, 255, 255, 254)}};
        });
    }
    void TearDown() override { platform::setInterfaceSourceForTesting(nullptr); }

    // Runs discovery until `wanted` messages came or the time is up, then stops it.
    std::vector<Received> discover(uint16_t port, size_t wanted, NetworkDiscoverySettings settings) {
        settings.port = port;
        std::thread thread([&] { runNetworkDiscovery(&window, stop, settings); });
        std::vector<Received> received;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        platform::WindowMessage m;
        while (received.size() < wanted && Clock::now() < deadline) {
            if (window.receive(m, 50)) received.push_back({m, Clock::now()});
        }
        stopAsked = Clock::now();
        stop = true;
        thread.join();
        stopped = Clock::now();
        return received;
    }

    platform::MessageQueue window;
    std::atomic<bool> stop{false};
    Clock::time_point stopAsked, stopped;
};

}  // namespace

TEST_F(NetworkDiscoveryLoopbackTest, RepliesAreParsedAndForeignOnesIgnored) {
    LoopbackUnit unit({"only\r\ntwo lines\r\n", "", "a\r\nb\r\nTavin ZT Other - Application\r\n", kBootloadReply});
    NetworkDiscoverySettings settings;
    settings.pauseMs = 100;
    const auto received = discover(unit.port(), 2, settings);
    ASSERT_EQ(received.size(), 2u);
    for (const Received& r : received) {
        EXPECT_EQ(r.message.id, WMU_NETWORK_UNIT_FOUND);
        EXPECT_EQ(r.message.wParam, UNIT_FLAG_BOOTLOAD);
        EXPECT_EQ(static_cast<uint32_t>(r.message.lParam), ipv4Address(127, 0, 0, 1));
    }
    // One report per request: the thread keeps no memory of units it has seen.
    EXPECT_GE(unit.requests(), 2);
    EXPECT_EQ(unit.strayDatagrams(), 0);
    // Stopping waits at most for one receive time-out or one pause.
    EXPECT_LT(stopped - stopAsked, std::chrono::milliseconds(1500));
}

TEST_F(NetworkDiscoveryLoopbackTest, OverLongReplyIsDroppedAndEndsTheCycle) {
    LoopbackUnit unit({kApplicationReply, kApplicationReply + std::string(300, 'x'), kBootloadReply});
    NetworkDiscoverySettings settings;
    settings.pauseMs = 400;
    const auto received = discover(unit.port(), 3, settings);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].message.wParam, 0u);
    // The bootload reply waited in the socket for the next cycle's receiving, after the pause.
    EXPECT_EQ(received[1].message.wParam, UNIT_FLAG_BOOTLOAD);
    EXPECT_GE(received[1].when - received[0].when, std::chrono::milliseconds(300));
    EXPECT_EQ(received[2].message.wParam, 0u);
}
