// The serial transport and the port table over pseudo-terminal pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "transport/com_port_table.h"
#include "tests/transport/transport_checks.h"
#include "transport/com_transport.h"

namespace {

class ComTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pty.open()) GTEST_SKIP() << "no pseudo-terminals on this system";
    }
    void TearDown() override { platform::setExtraSerialCandidatesForTesting({}); }

    std::string readFarText(uint32_t expected) {
        std::string text;
        uint8_t buffer[256];
        for (int i = 0; i < 20 && text.size() < expected; ++i) {
            uint32_t count = pty.readFar(buffer, sizeof buffer, 100);
            text.append(reinterpret_cast<char*>(buffer), count);
        }
        return text;
    }

    bool listed(const std::wstring& name) {
        for (const std::wstring& entry : comPortSnapshot()) {
            if (entry == name) return true;
        }
        return false;
    }

    platform::PseudoTerminal pty;
};

}  // namespace

TEST_F(ComTransportTest, CarriesBytesBothWays) {
    COMTransport port(pty.portName(), 115200);
    ASSERT_TRUE(port.open());
    EXPECT_STREQ(port.portName(), pty.portName().c_str());
    EXPECT_STREQ(port.kind(), L"COM");

    ASSERT_TRUE(port.write(bytes("\x01\x10\x04"), 3));
    EXPECT_EQ(readFarText(3), "\x01\x10\x04");

    ASSERT_TRUE(pty.writeFar(bytes("reply\r\n"), 7));
    uint8_t buffer[64] = {};
    std::string received;
    for (int i = 0; i < 10 && received.size() < 7; ++i) {
        received.append(reinterpret_cast<char*>(buffer), port.read(buffer, sizeof buffer));
    }
    EXPECT_EQ(received, "reply\r\n");  // raw: no CR/LF translation
}

TEST_F(ComTransportTest, SetsEightNoneOneAtEveryRateAndLeavesFlowControl) {
    for (const uint32_t* rate = baudRates; *rate != 0; ++rate) {
        const bool flow = (rate - baudRates) % 2 == 0;
        ASSERT_TRUE(pty.setNearFlowControl(flow, flow));
        COMTransport port(pty.portName(), *rate);
        ASSERT_TRUE(port.open()) << *rate;
        platform::SerialLineSettings line;
        ASSERT_TRUE(pty.nearSettings(line));
        EXPECT_EQ(line.baudRate, *rate);
        EXPECT_EQ(line.dataBits, 8);
        EXPECT_FALSE(line.parity);
        EXPECT_EQ(line.stopBits, 1);
        EXPECT_TRUE(line.raw);
        EXPECT_EQ(line.hardwareFlowControl, flow) << *rate;
        EXPECT_EQ(line.softwareFlowControl, flow) << *rate;
    }
}

TEST_F(ComTransportTest, HeldPortIsRefusedAndLeftOutOfTheTable) {
    platform::setExtraSerialCandidatesForTesting({pty.portName()});
    enumerateComPorts();
    EXPECT_TRUE(listed(pty.portName()));

    COMTransport holder(pty.portName(), 115200);
    ASSERT_TRUE(holder.open());
    COMTransport second(pty.portName(), 115200);
    EXPECT_FALSE(second.open());
    EXPECT_FALSE(second.isOpen());
    enumerateComPorts();
    EXPECT_FALSE(listed(pty.portName()));

    holder.close();
    enumerateComPorts();
    EXPECT_TRUE(listed(pty.portName()));
}

TEST_F(ComTransportTest, NamesLongerThanTwelveCharactersWork) {
    std::string unique = platform::toUtf8(pty.portName());
    std::replace(unique.begin(), unique.end(), '/', '_');
    const std::filesystem::path link = std::filesystem::temp_directory_path() / ("zt-usb-FTDI_Serial_Cable" + unique);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(platform::toUtf8(pty.portName()), link);
    const std::wstring name = platform::fromUtf8(link.string());
    platform::setExtraSerialCandidatesForTesting({name});

    enumerateComPorts();
    EXPECT_TRUE(listed(name));
    COMTransport port(comPortAt(comPortSnapshot().size() - 1), 115200);
    EXPECT_TRUE(port.open());
    EXPECT_EQ(std::wstring(port.portName()), name);
    port.close();
    std::filesystem::remove(link);
}

TEST_F(ComTransportTest, WriteAfterFarEndVanishedClosesThePort) {
    COMTransport port(pty.portName(), 115200);
    ASSERT_TRUE(port.open());
    pty.closeFar();

    EXPECT_TRUE(port.write(bytes("abc"), 3));  // the failure shows through isOpen
    EXPECT_FALSE(port.isOpen());
    uint8_t buffer[8];
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
}

// A hang-up seen by a read closes the port as a failed write does: otherwise every read
// returns at once and a waiting transaction spins until its time is up.
TEST_F(ComTransportTest, ReadAfterFarEndVanishedClosesThePort) {
    COMTransport port(pty.portName(), 115200);
    ASSERT_TRUE(port.open());
    pty.closeFar();
    uint8_t buffer[8];
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(port.isOpen());
}

// A run killed while it held the port leaves the terminal's exclusive flag set; its advisory
// lock died with it, so the next run takes the port.
TEST_F(ComTransportTest, ExclusiveFlagLeftByAKilledRunDoesNotHoldThePort) {
    ASSERT_TRUE(pty.markNearExclusive());
    COMTransport next(pty.portName(), 115200);
    EXPECT_TRUE(next.open());
}

TEST_F(ComTransportTest, ExchangeTextSendsTheRequestWithoutLineEnd) {
    COMTransport port(pty.portName(), 9600);
    ASSERT_TRUE(port.open());
    std::string seen;
    std::thread unit([&] {
        seen = readFarText(8);
        pty.writeFar(bytes("<SY,BQ=1/>"), 10);
    });
    char reply[32];
    bool answered = port.exchangeText("<SY,BQ/>", reply, sizeof reply, 1000);
    unit.join();
    EXPECT_TRUE(answered);
    EXPECT_STREQ(reply, "<SY,BQ=1/>");
    EXPECT_EQ(seen, "<SY,BQ/>");
}

// Loose bounds: a pending byte is returned long before the time-out, silence lasts about it.
TEST_F(ComTransportTest, ReadReturnsAtOnceWithBytesAndAfterTheTimeOutWithout) {
    COMTransport port(pty.portName(), 115200);
    ASSERT_TRUE(port.open());
    expectSerialReadTiming(port, [this] { ASSERT_TRUE(pty.writeFar(bytes("\x55"), 1)); });
}

TEST_F(ComTransportTest, DiscardPendingInputDropsWhatArrived) {
    COMTransport port(pty.portName(), 115200);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(pty.writeFar(bytes("stale reply"), 11));
    platform::systemSleepMs(50);

    port.discardPendingInput();
    uint8_t buffer[32];
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
    ASSERT_TRUE(pty.writeFar(bytes("fresh"), 5));
    EXPECT_EQ(port.read(buffer, sizeof buffer), 5);
}
