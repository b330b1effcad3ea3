// The serial transport between two ports joined by a null-modem link that the environment
// provides: ZT_SERIAL_PAIR="<near>,<far>" (under Wine, two COM ports mapped to the ends of a
// socat pseudo-terminal pair; see scripts/test_wine_serial.sh). Skipped without it. The hang-up
// case also needs ZT_SERIAL_PAIR_HOLDER_PID, the program that holds the link, which it ends.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "transport/com_port_table.h"
#include "tests/transport/transport_checks.h"
#include "transport/com_transport.h"

namespace {

class SerialPairTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* pair = std::getenv("ZT_SERIAL_PAIR");
        std::string names = pair ? pair : "";
        size_t comma = names.find(',');
        if (comma == std::string::npos) GTEST_SKIP() << "ZT_SERIAL_PAIR names no linked pair of ports";
        nearName = platform::fromUtf8(names.substr(0, comma));
        farName = platform::fromUtf8(names.substr(comma + 1));
    }
    void TearDown() override { platform::setExtraSerialCandidatesForTesting({}); }

    std::wstring nearName;
    std::wstring farName;
};

// Under Wine a Unix program starts through CreateProcess like any Windows one.
bool endLinkHolder(const std::string& pid) {
#ifdef _WIN32
    std::wstring command = L"/bin/kill " + platform::fromUtf8(pid);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine returns no handle to wait on for a Unix program; the test's bounded reads wait for it.
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) !=
           0;
#else
    return ::kill(std::stoi(pid), SIGTERM) == 0;
#endif
}

}  // namespace

TEST_F(SerialPairTest, BothPortsAreListedAndCarryBytesBothWays) {
    // Ports outside the system's own naming (a socat link, for instance) must be added.
    platform::setExtraSerialCandidatesForTesting({nearName});
    enumerateComPorts();
    bool nearListed = false;
    for (const std::wstring& name : comPortSnapshot()) nearListed = nearListed || name == nearName;
    EXPECT_TRUE(nearListed);

    COMTransport nearPort(nearName, 115200);
    COMTransport farPort(farName, 115200);
    ASSERT_TRUE(nearPort.open());
    ASSERT_TRUE(farPort.open());
    nearPort.write(bytes("\x01\x10\x04"), 3);
    EXPECT_EQ(readText(farPort, 3), "\x01\x10\x04");
    farPort.write(bytes("reply"), 5);
    EXPECT_EQ(readText(nearPort, 5), "reply");
}

TEST_F(SerialPairTest, ReadReturnsAtOnceWithBytesAndAfterTheTimeOutWithout) {
    COMTransport nearPort(nearName, 115200);
    COMTransport farPort(farName, 115200);
    ASSERT_TRUE(nearPort.open());
    ASSERT_TRUE(farPort.open());
    expectSerialReadTiming(nearPort, [&farPort] {
        farPort.write(bytes("\x55"), 1);
        // The link's relay needs a moment before the byte is at the near end.
        platform::systemSleepMs(20);
    });
}

TEST_F(SerialPairTest, ExchangeTextSendsTheRequestWithoutLineEnd) {
    COMTransport nearPort(nearName, 9600);
    COMTransport farPort(farName, 9600);
    ASSERT_TRUE(nearPort.open());
    ASSERT_TRUE(farPort.open());
    std::string seen;
    std::thread unit([&] {
        seen = readText(farPort, 8);
        farPort.write(bytes("<SY,BQ=1/>"), 10);
    });
    char reply[32];
    bool answered = nearPort.exchangeText("<SY,BQ/>", reply, sizeof reply, 1000);
    unit.join();
    EXPECT_TRUE(answered);
    EXPECT_STREQ(reply, "<SY,BQ=1/>");
    EXPECT_EQ(seen, "<SY,BQ/>");
}

TEST_F(SerialPairTest, DiscardPendingInputDropsWhatArrived) {
    COMTransport nearPort(nearName, 115200);
    COMTransport farPort(farName, 115200);
    ASSERT_TRUE(nearPort.open());
    ASSERT_TRUE(farPort.open());
    farPort.write(bytes("stale"), 5);
    platform::systemSleepMs(50);
    nearPort.discardPendingInput();
    uint8_t buffer[32];
    EXPECT_EQ(nearPort.read(buffer, sizeof buffer), 0);
}

// The far end gone for good: the read fails, returns nothing, and the port closes, so callers
// stop at once instead of reading a dead port until their attempts run out.
TEST_F(SerialPairTest, AFailedReadClosesThePort) {
    const char* holder = std::getenv("ZT_SERIAL_PAIR_HOLDER_PID");
    if (!holder) GTEST_SKIP() << "ZT_SERIAL_PAIR_HOLDER_PID names no program holding the link";
    COMTransport nearPort(nearName, 115200);
    ASSERT_TRUE(nearPort.open());
    ASSERT_TRUE(endLinkHolder(holder));
    uint8_t buffer[32];
    uint16_t received = 1;
    for (int attempt = 0; attempt < 40 && nearPort.isOpen(); ++attempt) received = nearPort.read(buffer, sizeof buffer);
    EXPECT_EQ(received, 0);
    EXPECT_FALSE(nearPort.isOpen());
}
