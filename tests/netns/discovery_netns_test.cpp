// Network discovery against simulated units in private network namespaces. Run only by
// run_discovery_netns.sh, inside the "pc" namespace it builds; see that script for the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "content/content_globals.h"
#include "discovery/discovery_threads.h"
#include "platform/network.h"
#include "platform/network_interfaces.h"
#include "platform/sockets.h"
#include "tests/support/networked_suite.h"
#include "ui/worker_messages.h"

using platform::InterfaceAddress;
using platform::ipv4Address;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const uint32_t kLanA = ipv4Address(192, 0, 2, 1);    // 192.0.2.0/24
const uint32_t kLanB = ipv4Address(169, 254, 1, 1);  // 169.254.0.0/16, link-local
const uint32_t kLanC = ipv4Address(203, 0, 113, 1);  // 203.0.113.0/24, eleven units
const uint32_t kLoopback = ipv4Address(127, 0, 0, 1);

struct Received {
    uint32_t address;
    uint32_t flags;
    Clock::time_point when;
};

std::vector<InterfaceAddress> systemTableWithout(uint32_t excluded) {
    std::vector<InterfaceAddress> table = platform::systemInterfaceAddresses();
    table.erase(std::remove_if(table.begin(), table.end(), [&](const auto& e) { return e.address == excluded; }),
                table.end());
    return table;
}

class DiscoveryNetnsTest : public NetworkedSuite {
protected:
    // Nothing may be broadcast unless this is the namespace the script built.
    void SetUp() override {
        std::set<uint32_t> addresses;
        for (const auto& e : platform::systemInterfaceAddresses()) addresses.insert(e.address);
        if (addresses != std::set<uint32_t>{kLoopback, kLanA, kLanB, kLanC}) {
            GTEST_FAIL() << "not inside the test's own \"pc\" namespace; refusing to broadcast";
        }
    }
    void TearDown() override { platform::setInterfaceSourceForTesting(nullptr); }

    // Runs discovery until `enough` says so or `limit` passes; then stops it and times the stop.
    std::vector<Received> discover(milliseconds limit,
                                   const std::function<bool(const std::vector<Received>&)>& enough) {
        platform::MessageQueue window;
        std::atomic<bool> stop{false};
        std::thread thread([&] { runNetworkDiscovery(&window, stop); });
        std::vector<Received> received;
        const auto deadline = Clock::now() + limit;
        platform::WindowMessage m;
        while (Clock::now() < deadline && !enough(received)) {
            if (window.receive(m, 50) && m.id == WMU_NETWORK_UNIT_FOUND) {
                received.push_back({static_cast<uint32_t>(m.lParam), static_cast<uint32_t>(m.wParam), Clock::now()});
            }
        }
        const auto stopAsked = Clock::now();
        stop = true;
        thread.join();
        stopTime = std::chrono::duration_cast<milliseconds>(Clock::now() - stopAsked);
        return received;
    }

    milliseconds stopTime{0};
};

// "time-ms destination" lines written by request_listener.py in this namespace.
std::vector<std::pair<long long, std::string>> loggedRequests() {
    std::vector<std::pair<long long, std::string>> requests;
    const char* path = std::getenv("ZT_NETNS_REQUEST_LOG");
    if (!path) return requests;
    std::ifstream log(path);
    long long when = 0;
    std::string destination;
    while (log >> when >> destination) requests.emplace_back(when, destination);
    return requests;
}

}  // namespace

TEST_F(DiscoveryNetnsTest, OneRequestPerInterfacePerCycleAndNoneForLoopback) {
    const auto start = Clock::now();
    discover(milliseconds(4500), [](const auto&) { return false; });
    std::this_thread::sleep_for(milliseconds(300));  // the listener's last lines
    const auto requests = loggedRequests();
    ASSERT_FALSE(requests.empty()) << "no request reached the listener";
    // A cycle's requests leave together; cycles are at least the 1000 ms pause apart.
    std::vector<std::multiset<std::string>> cycles;
    long long previous = -100000;
    for (const auto& [when, destination] : requests) {
        if (when - previous > 500) cycles.emplace_back();
        cycles.back().insert(destination);
        previous = when;
    }
    const std::multiset<std::string> expected = {"192.0.2.255", "169.254.255.255", "203.0.113.255"};
    EXPECT_GE(cycles.size(), 2u);
    for (const auto& cycle : cycles) EXPECT_EQ(cycle, expected);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
    EXPECT_LT(stopTime, milliseconds(1500));
}

TEST_F(DiscoveryNetnsTest, FlagsFollowTheSenderAndForeignRepliesAreIgnored) {
    // Only the two networks of this case, so that every reply fits into one cycle.
    platform::setInterfaceSourceForTesting([] { return systemTableWithout(kLanC); });
    const std::map<uint32_t, uint32_t> expected = {
        {ipv4Address(192, 0, 2, 10), 0},
        {ipv4Address(192, 0, 2, 11), UNIT_FLAG_BOOTLOAD},
        {ipv4Address(192, 0, 2, 12), 0},  // " - Bootload" with a bare LF
        {ipv4Address(198, 51, 100, 7), UNIT_FLAG_OTHER_SUBNET},
        {ipv4Address(169, 254, 10, 20), UNIT_FLAG_LINK_LOCAL},
        {ipv4Address(169, 254, 0, 1), 0},
        {ipv4Address(169, 254, 255, 254), 0},
    };
    const auto received = discover(milliseconds(8000), [&](const std::vector<Received>& r) {
        std::set<uint32_t> seen;
        for (const auto& x : r) seen.insert(x.address);
        return seen.size() >= expected.size() && r.size() >= 2 * expected.size();
    });
    std::map<uint32_t, std::set<uint32_t>> flagsByAddress;
    for (const auto& r : received) flagsByAddress[r.address].insert(r.flags);
    for (const auto& [address, flags] : expected) {
        ASSERT_TRUE(flagsByAddress.count(address)) << std::hex << address;
        EXPECT_EQ(flagsByAddress[address], std::set<uint32_t>{flags}) << std::hex << address;
    }
    // 192.0.2.13 announces another model, 192.0.2.14 sends two lines only.
    EXPECT_EQ(flagsByAddress.size(), expected.size());
    EXPECT_LT(stopTime, milliseconds(1500));
}

TEST_F(DiscoveryNetnsTest, ElevenUnitsGiveTenReportsInTheFirstCycle) {
    platform::setInterfaceSourceForTesting([] {
        auto table = systemTableWithout(kLanA);
        table.erase(std::remove_if(table.begin(), table.end(), [](const auto& e) { return e.address == kLanB; }),
                    table.end());
        return table;
    });
    const auto received = discover(milliseconds(8000), [](const std::vector<Received>& r) { return r.size() >= 12; });
    ASSERT_GE(received.size(), 12u);
    std::set<uint32_t> firstCycle;
    for (size_t i = 0; i < 10; ++i) firstCycle.insert(received[i].address);
    EXPECT_EQ(firstCycle.size(), 10u);
    // The eleventh waited for the next cycle, behind the 1000 ms pause.
    EXPECT_GE(received[10].when - received[9].when, milliseconds(800));
    EXPECT_EQ(firstCycle.count(received[10].address), 0u);
    for (const auto& r : received) EXPECT_EQ(r.flags, 0u);
    EXPECT_LT(stopTime, milliseconds(1500));
}
