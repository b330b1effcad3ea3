// Serial discovery over scripted ports: probe order, reports and stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "discovery/discovery_threads.h"
#include "startup/embedded_content.h"
#include "tests/support/command_port_script.h"
#include "tests/support/frames.h"
#include "transport/com_port_table.h"
#include "transport/transport_factory.h"
#include "ui/worker_messages.h"

namespace {

struct Probe {
    std::wstring port;
    uint32_t rate;
};

// What sits on one scripted port.
struct PortUnit {
    std::string identification;  // command 13's reply text at 115200; empty: no bootloader
    uint32_t textRate = 0;       // the only rate at which the command port answers; 0: never
    std::string queryReply = "<sy,bq = ud/>";
};

class SerialDiscoveryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { loadEmbeddedContent(); }

    void SetUp() override {
        factory.serial = [this](const std::wstring& name, uint32_t rate) { return makePort(name, rate); };
        setTransportFactoryForTesting(&factory);
    }
    void TearDown() override {
        setTransportFactoryForTesting(nullptr);
        for (auto& entry : comPortTable) entry.clear();
    }

    std::unique_ptr<Transport> makePort(const std::wstring& name, uint32_t rate) {
        probes.push_back({name, rate});
        // The thread sees the flag before its next port, so the probe begun here still runs.
        if (probes.size() == stopAfterProbes) stop = true;
        auto port = std::make_unique<ScriptedTransport>(clock, 150, TransportKind::kSerial);
        const PortUnit& unit = units[name];
        if (rate == 115200 && !unit.identification.empty()) {
            const std::string text = unit.identification;
            port->onWrite = [text](ScriptedTransport& t, const Bytes& frame) {
                const Bytes message = messageOf(frame);
                if (!message.empty() && message[0] == 13)
                    t.queueRead(replyFrame(frame, Bytes(text.begin(), text.end())));
            };
        }
        if (rate == unit.textRate) {
            const std::string reply = unit.queryReply;
            port->onWrite = [reply](ScriptedTransport& t, const Bytes& written) {
                if (std::string(written.begin(), written.end()) == "<SY,BQ/>") t.queueRead(bytesOf(reply + "\r\n"));
            };
        }
        return port;
    }

    std::vector<platform::WindowMessage> runUntilStopped() {
        runSerialDiscovery(&window, stop);
        std::vector<platform::WindowMessage> messages;
        platform::WindowMessage m;
        while (window.receive(m, 0)) messages.push_back(m);
        return messages;
    }

    std::vector<uint32_t> ratesProbedOn(const std::wstring& port) const {
        std::vector<uint32_t> rates;
        for (const Probe& p : probes) {
            if (p.port == port) rates.push_back(p.rate);
        }
        return rates;
    }

    FakeClock clock;
    TransportFactory factory;
    platform::MessageQueue window;
    std::atomic<bool> stop{false};
    std::map<std::wstring, PortUnit> units;
    std::vector<Probe> probes;
    size_t stopAfterProbes = 0;  // set by each test: the first probe of its second scan
};

const char kBootloadIdentification[] = "ZT Unit\r\n00-1E-C0-00-00-01\r\nTavin ZT Series - Bootload\r\n";

}  // namespace

TEST_F(SerialDiscoveryTest, BootloaderAnswerNeedsNoTextProbe) {
    comPortTable[0] = L"/dev/ttyZT0";
    units[L"/dev/ttyZT0"].identification = kBootloadIdentification;
    stopAfterProbes = 2;
    const auto messages = runUntilStopped();
    // Reported once per scan, and no text probe follows the bootloader's answer.
    EXPECT_EQ(ratesProbedOn(L"/dev/ttyZT0"), (std::vector<uint32_t>{115200, 115200}));
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.id, WMU_SERIAL_UNIT_FOUND);
        EXPECT_EQ(m.wParam, 1u);
        EXPECT_EQ(m.lParam, 0);
    }
}

TEST_F(SerialDiscoveryTest, ApplicationUnitIsFoundAtItsRateAfterTheSlowerOnes) {
    comPortTable[0] = L"/dev/ttyZT0";
    comPortTable[1] = L"/dev/ttyZT1";
    units[L"/dev/ttyZT0"].textRate = 19200;
    units[L"/dev/ttyZT1"].textRate = 19200;
    units[L"/dev/ttyZT1"].queryReply = "<sy,bq = ue/>";
    stopAfterProbes = 9;
    const auto messages = runUntilStopped();
    EXPECT_EQ(ratesProbedOn(L"/dev/ttyZT1"), (std::vector<uint32_t>{115200, 4800, 9600, 19200}));
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(messages[0].wParam, 0u);
    EXPECT_EQ(messages[1].lParam, 1);
    EXPECT_EQ(messages[1].wParam, 1u);
}

TEST_F(SerialDiscoveryTest, PortsAreReportedInTableOrderAndSilentPortsWalkEveryRate) {
    comPortTable[0] = L"/dev/ttyZT0";
    comPortTable[1] = L"/dev/ttyZT1";
    comPortTable[2] = L"/dev/ttyZT2";
    units[L"/dev/ttyZT0"].textRate = 4800;
    units[L"/dev/ttyZT2"].identification = kBootloadIdentification;
    // Command 13 answered by an application-mode text: the text probe must still run.
    units[L"/dev/ttyZT1"].identification = "a\r\nb\r\nTavin ZT Series - Application\r\n";
    stopAfterProbes = 11;
    const auto messages = runUntilStopped();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(messages[1].lParam, 2);
    EXPECT_EQ(messages[1].wParam, 1u);
    EXPECT_EQ(ratesProbedOn(L"/dev/ttyZT1"), (std::vector<uint32_t>{115200, 4800, 9600, 19200, 38400, 57600, 115200}));
}

// A listed port that has gone since the table was made. Real time, not a fake clock: the pause
// under test is a real sleep.
struct PortThatWillNotOpen : Transport {
    bool open() override { return false; }
    bool write(const uint8_t*, uint32_t) override { return false; }
    uint16_t read(uint8_t*, uint32_t) override { return 0; }
    TransportKind transportKind() override { return TransportKind::kSerial; }
    uint32_t readTimeoutMs() const override { return 150; }
    bool discardPendingInput() override { return false; }
};

// Nothing to probe, or nothing that opens: the thread pauses between passes instead of
// spinning, and still stops promptly.
TEST(SerialDiscoveryIdle, NothingToProbePausesAndStopsPromptly) {
    for (const bool portsListed : {false, true}) {
        std::atomic<int> created{0};
        TransportFactory factory;
        factory.serial = [&](const std::wstring&, uint32_t) -> std::unique_ptr<Transport> {
            ++created;
            return std::make_unique<PortThatWillNotOpen>();
        };
        setTransportFactoryForTesting(&factory);
        if (portsListed) comPortTable[0] = L"/dev/ttyZTgone0", comPortTable[1] = L"/dev/ttyZTgone1";
        platform::MessageQueue window;
        std::atomic<bool> stop{false};
        std::thread discovery([&] { runSerialDiscovery(&window, stop); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto stopAsked = std::chrono::steady_clock::now();
        stop = true;
        discovery.join();
        EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(500));
        setTransportFactoryForTesting(nullptr);
        for (auto& entry : comPortTable) entry.clear();
        // A pass is two ports times the bootloader rate and six command-port rates; with the
        // 50 ms pause, 300 ms hold at most eight passes (a spinning thread makes thousands).
        EXPECT_LE(created.load(), portsListed ? 8 * 2 * 7 : 0) << portsListed;
        EXPECT_EQ(window.pending(), 0u);
    }
}
