// The UDP and TCP transports against peers on the loopback interface.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/alert.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/sockets.h"
#include "tests/transport/transport_checks.h"
#include "transport/ethernet_transport.h"
#include "ui/ui_strings.h"

namespace {

const uint32_t kLoopback = platform::ipv4Address(127, 0, 0, 1);

std::vector<std::wstring> alerts;
void recordAlert(const wchar_t* text, const wchar_t* caption) {
    alerts.push_back(std::wstring(caption) + L": " + text);
}

class EthernetTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::startNetworking());
        loadUiStrings();
        alerts.clear();
        platform::setAlertHook(recordAlert);
    }
    void TearDown() override {
        platform::setAlertHook(nullptr);
        platform::stopNetworking();
    }

    // A UDP socket on a loopback port of the OS's choosing, standing in for the unit.
    static platform::Socket udpPeer() {
        platform::Socket peer;
        EXPECT_TRUE(peer.openUdp() && peer.setReceiveTimeout(1000) && peer.bind(kLoopback, 0));
        return peer;
    }

    static platform::Socket tcpListener() {
        platform::Socket listener;
        EXPECT_TRUE(listener.openTcp() && listener.bind(kLoopback, 0) && listener.listen());
        return listener;
    }

    static std::string received(platform::Socket& peer) {
        uint8_t buffer[2048];
        int32_t count = peer.receiveFrom(buffer, sizeof buffer, nullptr, nullptr);
        return count > 0 ? std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(count)) : std::string();
    }
};

}  // namespace

TEST_F(EthernetTransportTest, UdpSendsEachWriteAsOneDatagramToTheBootloaderPort) {
    EXPECT_EQ(EthernetTransport(kLoopback).destinationPort(), 6234);
    platform::Socket unit = udpPeer();
    EthernetTransport transport(kLoopback, unit.localPort());
    ASSERT_TRUE(transport.open());
    EXPECT_EQ(transport.address(), kLoopback);
    EXPECT_STREQ(transport.kind(), L"IP");

    const std::string frames[] = {std::string("\x01\x01\x10\x04", 4), std::string(300, 'x'), "z"};
    for (const std::string& frame : frames) {
        ASSERT_TRUE(transport.write(bytes(frame.data()), static_cast<uint32_t>(frame.size())));
    }
    for (const std::string& frame : frames) EXPECT_EQ(received(unit), frame);
    EXPECT_TRUE(alerts.empty());
}

// Another host that reaches the updater's port is not the unit: its datagrams are dropped. A unit
// on loopback is this host, whose loopback addresses not every socket layer tells apart.
TEST(UdpSender, OnlyTheUnitsAddressOrThisHostForALoopbackUnit) {
    const uint32_t unit = platform::ipv4Address(192, 0, 2, 10);
    EXPECT_TRUE(isFromUnit(unit, unit));
    EXPECT_FALSE(isFromUnit(platform::ipv4Address(192, 0, 2, 11), unit));
    EXPECT_FALSE(isFromUnit(platform::ipv4Address(127, 0, 0, 1), unit));
    EXPECT_FALSE(isFromUnit(unit, platform::ipv4Address(127, 0, 0, 1)));
    EXPECT_TRUE(isFromUnit(platform::ipv4Address(127, 0, 0, 1), platform::ipv4Address(127, 61, 1, 1)));
}

// The unit's datagrams are read one at a time, whatever port they come from.
TEST_F(EthernetTransportTest, UdpReadsOneDatagramAtATime) {
    platform::Socket unit = udpPeer();
    EthernetTransport transport(kLoopback, unit.localPort());
    ASSERT_TRUE(transport.open());
    uint8_t buffer[2048];
    EXPECT_EQ(transport.read(buffer, sizeof buffer), 0);

    ASSERT_TRUE(transport.write(bytes("?"), 1));
    uint32_t unitSide = 0;
    uint16_t transportPort = 0;
    ASSERT_EQ(unit.receiveFrom(buffer, sizeof buffer, &unitSide, &transportPort), 1);

    unit.sendTo(bytes("123456789"), 9, kLoopback, transportPort);
    unit.sendTo(bytes("next"), 4, kLoopback, transportPort);
    platform::Socket otherPort = udpPeer();
    otherPort.sendTo(bytes("other"), 5, kLoopback, transportPort);
    EXPECT_EQ(readText(transport, 9), "123456789");
    EXPECT_EQ(readText(transport, 4), "next");
    EXPECT_EQ(readText(transport, 5), "other");
}

TEST_F(EthernetTransportTest, UdpDiscardPendingInputDropsQueuedDatagrams) {
    platform::Socket unit = udpPeer();
    EthernetTransport transport(kLoopback, unit.localPort());
    ASSERT_TRUE(transport.open());
    uint8_t buffer[2048];
    uint16_t transportPort = 0;
    ASSERT_TRUE(transport.write(bytes("?"), 1));
    ASSERT_EQ(unit.receiveFrom(buffer, sizeof buffer, nullptr, &transportPort), 1);

    for (int i = 0; i < 5; ++i) unit.sendTo(bytes("late reply"), 10, kLoopback, transportPort);
    platform::systemSleepMs(50);
    transport.discardPendingInput();
    EXPECT_EQ(transport.read(buffer, sizeof buffer), 0);
    unit.sendTo(bytes("fresh"), 5, kLoopback, transportPort);
    EXPECT_EQ(readText(transport, 5), "fresh");
}

TEST_F(EthernetTransportTest, TcpPortZeroMeansTheDefaultCommandPort) {
    EthernetTransportTCP byDefault(kLoopback, 0);
    EXPECT_EQ(byDefault.port(), 4999u);
    EXPECT_EQ(byDefault.address(), kLoopback);
    EXPECT_STREQ(byDefault.kind(), L"TCP");
    EXPECT_EQ(EthernetTransportTCP(kLoopback, 5000).port(), 5000u);
}

TEST_F(EthernetTransportTest, TcpExchangeTextAppendsCrLf) {
    platform::Socket listener = tcpListener();
    EthernetTransportTCP transport(kLoopback, listener.localPort());
    ASSERT_TRUE(transport.open());
    platform::Socket unit = listener.accept(1000);
    ASSERT_TRUE(unit.isOpen() && unit.setReceiveTimeout(200));

    std::string seen;
    std::thread answer([&] {
        uint8_t buffer[64];
        for (int i = 0; i < 10 && seen.find("\r\n") == std::string::npos; ++i) {
            int32_t count = unit.receive(buffer, sizeof buffer);
            if (count > 0) seen.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(count));
        }
        unit.send(bytes("<SY,BQ=0/>\r\n"), 12);
    });
    char reply[32];
    bool answered = transport.exchangeText("<SY,BQ/>", reply, sizeof reply, 2000);
    answer.join();
    EXPECT_TRUE(answered);
    EXPECT_STREQ(reply, "<SY,BQ=0/>");
    EXPECT_EQ(seen, "<SY,BQ/>\r\n");
}

TEST_F(EthernetTransportTest, TcpConnectWhereNothingListensFailsSilentlyAndHoldsNoSocket) {
    platform::Socket placeholder;
    ASSERT_TRUE(placeholder.openTcp() && placeholder.bind(kLoopback, 0));  // bound, never listening
    EthernetTransportTCP transport(kLoopback, placeholder.localPort());
    EXPECT_FALSE(transport.open());
    EXPECT_FALSE(transport.isOpen());
    EXPECT_TRUE(alerts.empty());
    EXPECT_FALSE(transport.write(bytes("x"), 1));
}

TEST_F(EthernetTransportTest, TcpReadsReturnZeroAtOnceAfterThePeerCloses) {
    platform::Socket listener = tcpListener();
    EthernetTransportTCP transport(kLoopback, listener.localPort());
    ASSERT_TRUE(transport.open());
    platform::Socket unit = listener.accept(1000);
    ASSERT_TRUE(unit.isOpen());
    unit.send(bytes("bye"), 3);
    unit.close();

    EXPECT_EQ(readText(transport, 3), "bye");
    uint8_t buffer[16];
    const uint32_t start = platform::systemTickCount();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(transport.read(buffer, sizeof buffer), 0);
    // Four reads that each waited out the 250 ms time-out would take a second.
    EXPECT_LT(platform::ticksBetween(start, platform::systemTickCount()), 4 * kTcpReadTimeoutMs / 2);
    // The ended stream closes the transport, so a text exchange fails at once instead of
    // reading nothing until its budget is spent.
    EXPECT_FALSE(transport.isOpen());
    char reply[32];
    const uint32_t exchangeStart = platform::systemTickCount();
    EXPECT_FALSE(transport.exchangeText("<SY,BQ/>", reply, sizeof reply, 5000));
    EXPECT_LT(platform::ticksBetween(exchangeStart, platform::systemTickCount()), 1000u);
}

TEST_F(EthernetTransportTest, TcpDiscardPendingInputDropsWhatArrived) {
    platform::Socket listener = tcpListener();
    EthernetTransportTCP transport(kLoopback, listener.localPort());
    ASSERT_TRUE(transport.open());
    platform::Socket unit = listener.accept(1000);
    ASSERT_TRUE(unit.isOpen());
    unit.send(bytes("<stale/>\r\n"), 10);
    platform::systemSleepMs(50);

    transport.discardPendingInput();
    uint8_t buffer[16];
    EXPECT_EQ(transport.read(buffer, sizeof buffer), 0);
    unit.send(bytes("<new/>"), 6);
    EXPECT_EQ(readText(transport, 6), "<new/>");
}
