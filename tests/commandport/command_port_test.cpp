// Command-port texts, the unlock sequence and the order of probes.
#include <gtest/gtest.h>

#include "commandport/command_port.h"
#include "tests/support/command_port_script.h"
#include "transport/ethernet_transport.h"
#include "transport/transport_factory.h"

namespace {

class CommandPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        factory.serial = [this](const std::wstring& name, uint32_t rate) {
            probedPorts.push_back(name);
            probedRates.push_back(rate);
            auto t = std::make_unique<ScriptedTransport>(clock, 150, TransportKind::kSerial);
            if (rate == answeringRate) unit.attachTo(*t);
            return t;
        };
        factory.tcp = [this](uint32_t address, uint32_t port) {
            tcpTargets.emplace_back(address, port);
            auto t = std::make_unique<ScriptedTransport>(clock, 250, TransportKind::kTcp);
            unit.attachTo(*t);
            return t;
        };
        setTransportFactoryForTesting(&factory);
    }
    void TearDown() override {
        setTransportFactoryForTesting(nullptr);
        parserPort = kDefaultParserPort;
    }

    FakeClock clock;
    TransportFactory factory;
    CommandPortScript unit;
    uint32_t answeringRate = 9600;
    std::vector<std::wstring> probedPorts;
    std::vector<uint32_t> probedRates;
    std::vector<std::pair<uint32_t, uint32_t>> tcpTargets;
};

}  // namespace

TEST_F(CommandPortTest, SerialProbesWalkTheRatesAndStopAtTheAnswer) {
    const UnitAddress connection = UnitAddress::serialPort(L"/dev/zt-test-port");
    EXPECT_EQ(enterBootload(connection, "1234"), EnterBootloadResult::kEnabled);
    EXPECT_EQ(probedRates, (std::vector<uint32_t>{4800, 9600}));
    EXPECT_EQ(probedPorts.back(), L"/dev/zt-test-port");
    EXPECT_EQ(unit.received, (std::vector<std::string>{"<SY,BQ/>", "<SY,BU1234/>", "<SY,BE/>", "<SY,BR/>"}));
}

TEST_F(CommandPortTest, UnitThatNeverAnswersIsNotFound) {
    answeringRate = 0;
    const UnitAddress connection = UnitAddress::serialPort(L"/dev/zt-test-port");
    EXPECT_EQ(enterBootload(connection, "1234"), EnterBootloadResult::kUnitNotFound);
    EXPECT_EQ(probedRates.size(), 6u);
}

TEST_F(CommandPortTest, WrongPinSendsNothingFurther) {
    unit.replies.erase("<SY,BU1234/>");
    unit.replies["<SY,BU9999/>"] = "<sy,bu = nak/>";
    const UnitAddress connection = UnitAddress::serialPort(L"/dev/zt-test-port");
    EXPECT_EQ(enterBootload(connection, "9999"), EnterBootloadResult::kUnlockFailed);
    EXPECT_EQ(unit.received, (std::vector<std::string>{"<SY,BQ/>", "<SY,BU9999/>"}));
}

TEST_F(CommandPortTest, EnableMustBeExact) {
    unit.replies["<SY,BE/>"] = "<sy,be = ud/>";
    const UnitAddress connection = UnitAddress::serialPort(L"/dev/zt-test-port");
    EXPECT_EQ(enterBootload(connection, "1234"), EnterBootloadResult::kUnlockFailed);
    EXPECT_EQ(unit.received.back(), "<SY,BE/>");
}

TEST_F(CommandPortTest, EnabledUnitStillRunsTheUnlock) {
    unit.replies["<SY,BQ/>"] = "<sy,bq = ue/>";
    const UnitAddress connection = UnitAddress::serialPort(L"/dev/zt-test-port");
    EXPECT_EQ(enterBootload(connection, "1234"), EnterBootloadResult::kEnabled);
}

TEST_F(CommandPortTest, NetworkUnitIsProbedOnceOverTcpOnTheParserPort) {
    parserPort = 5123;
    const uint32_t address = 0x0A0200C0;  // 192.0.2.10 in network byte order
    const UnitAddress connection = UnitAddress::network(address);
    EXPECT_EQ(enterBootload(connection, "1234"), EnterBootloadResult::kEnabled);
    ASSERT_EQ(tcpTargets.size(), 1u);
    EXPECT_EQ(tcpTargets[0], std::make_pair(address, 5123u));
    EXPECT_TRUE(probedRates.empty());
}

TEST(CommandPortReplies, QueryJudgement) {
    EXPECT_TRUE(isQueryReply("<sy,bq = ud/>"));
    EXPECT_EQ(bootloadStateOf("<sy,bq = ud/>"), 'd');
    EXPECT_EQ(bootloadStateOf("<sy,bq = xe/>"), 'e');
    EXPECT_FALSE(isQueryReply("<SY,BQ = ud/>"));
    EXPECT_FALSE(isQueryReply("<sy,bq=ud/>"));
    EXPECT_EQ(bootloadStateOf("<sy,bq = "), '\0');
}

TEST(CommandPortReplies, PinAndParserPortRanges) {
    EXPECT_TRUE(isValidPin(L"0000"));
    EXPECT_TRUE(isValidPin(L"4821"));
    for (const wchar_t* bad : {L"123", L"12345", L"12a4", L"", L" 123", L"１２３４"}) {
        EXPECT_FALSE(isValidPin(bad)) << bad;
    }
    EXPECT_FALSE(isValidParserPort(1023));
    EXPECT_TRUE(isValidParserPort(1024));
    EXPECT_TRUE(isValidParserPort(65535));
    EXPECT_FALSE(isValidParserPort(65536));
}
