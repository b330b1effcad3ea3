// Serial discovery over the simulator's pseudo-terminals: a bootload-mode unit and an
// application-mode unit, each on a port of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "discovery/discovery_threads.h"
#include "startup/embedded_content.h"
#include "tests/sim/sim_process.h"
#include "transport/com_port_table.h"
#include "ui/worker_messages.h"

namespace {

std::wstring widePath(const std::string& path) { return std::wstring(path.begin(), path.end()); }

}  // namespace

TEST(SerialDiscoveryIntegration, BothPortsAreReportedInTableOrder) {
    loadEmbeddedContent();
    SimProcess bootloadUnit;
    SimProcess applicationUnit;
    ASSERT_TRUE(bootloadUnit.start({"--no-udp", "--no-discovery", "--no-tcp", "--start-mode", "bootload"}))
        << bootloadUnit.output();
    ASSERT_TRUE(applicationUnit.start({"--no-udp", "--no-discovery", "--no-tcp"})) << applicationUnit.output();
    comPortTable[0] = widePath(bootloadUnit.endpoint("serial"));
    comPortTable[1] = widePath(applicationUnit.endpoint("serial"));

    platform::MessageQueue window;
    std::atomic<bool> stop{false};
    std::thread discovery([&] { runSerialDiscovery(&window, stop); });
    std::vector<platform::WindowMessage> found;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    platform::WindowMessage m;
    while (found.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        if (window.receive(m, 100)) found.push_back(m);
    }
    stop = true;
    discovery.join();
    comPortTable[0].clear();
    comPortTable[1].clear();

    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].id, WMU_SERIAL_UNIT_FOUND);
    EXPECT_EQ(found[0].lParam, 0);
    EXPECT_EQ(found[0].wParam, 1u);
    // Found by the command port at the first rate; its bootload mode is disabled.
    EXPECT_EQ(found[1].lParam, 1);
    EXPECT_EQ(found[1].wParam, 0u);
}
