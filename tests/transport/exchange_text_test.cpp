// The command-port text exchange over a scripted transport.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/scripted_transport.h"

namespace {

class ExchangeTextTest : public ::testing::Test {
protected:
    ScriptedTransport& link(uint32_t readMs, TransportKind kind) {
        transport = std::make_unique<ScriptedTransport>(clock, readMs, kind);
        transport->open();
        return *transport;
    }

    FakeClock clock;
    std::unique_ptr<ScriptedTransport> transport;
    char reply[64] = {};
};

}  // namespace

TEST_F(ExchangeTextTest, AssemblesReplySplitOverReadsAndDropsNoise) {
    ScriptedTransport& t = link(250, TransportKind::kTcp);
    t.onWrite = [](ScriptedTransport& s, const Bytes& w) {
        if (w == bytesOf("\r\n")) {
            s.queueRead(bytesOf("echo<sy,bq "));
            s.queueRead(bytesOf("= ud/>\r\n"));
        }
    };
    ASSERT_TRUE(t.exchangeText("<SY,BQ/>", reply, sizeof reply, 1000));
    EXPECT_STREQ(reply, "<sy,bq = ud/>");
}

TEST_F(ExchangeTextTest, LineEndFollowsRequestExceptOverSerial) {
    ScriptedTransport& tcp = link(250, TransportKind::kTcp);
    tcp.exchangeText("<SY,BE/>", reply, sizeof reply, 0);
    ASSERT_EQ(tcp.log->writes.size(), 2u);
    EXPECT_EQ(tcp.log->writes[0], bytesOf("<SY,BE/>"));
    EXPECT_EQ(tcp.log->writes[1], bytesOf("\r\n"));

    ScriptedTransport& com = link(150, TransportKind::kSerial);
    com.exchangeText("<SY,BE/>", reply, sizeof reply, 0);
    ASSERT_EQ(com.log->writes.size(), 1u);
    EXPECT_EQ(com.log->writes[0], bytesOf("<SY,BE/>"));
}

TEST_F(ExchangeTextTest, ZeroBudgetMakesExactlyOneReadAfterTheDrain) {
    ScriptedTransport& t = link(150, TransportKind::kSerial);
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", reply, sizeof reply, 0));
    EXPECT_EQ(t.log->reads, 2);
}

TEST_F(ExchangeTextTest, BudgetCountsFromTheRequestNotPerPass) {
    ScriptedTransport& t = link(250, TransportKind::kTcp);
    const uint32_t start = clock.now();
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", reply, sizeof reply, 1000));
    // Drain (250), then reads until 1000 ms have passed since sending: 10 + 4 x 250.
    EXPECT_EQ(t.log->reads, 5);
    EXPECT_EQ(clock.now() - start, 250u + 1010u);
}

TEST_F(ExchangeTextTest, LongReplyKeepsOneByteForTheTerminator) {
    ScriptedTransport& t = link(250, TransportKind::kTcp);
    t.onWrite = [](ScriptedTransport& s, const Bytes& w) {
        if (w == bytesOf("\r\n")) s.queueRead(bytesOf("<0123456789abcdefghij/>"));
    };
    char small[16];
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", small, sizeof small, 300));
    EXPECT_EQ(std::strlen(small), 15u);
}

// Once the buffer is full without a closing ">", or the port has closed, no read can finish the
// reply: the exchange fails at once instead of reading until its budget is spent.
TEST_F(ExchangeTextTest, FullBufferOrClosedPortFailsAtOnce) {
    ScriptedTransport& t = link(10, TransportKind::kTcp);
    t.onWrite = [](ScriptedTransport& s, const Bytes& w) {
        if (w == bytesOf("\r\n")) s.queueRead(bytesOf("<0123456789abcdefghijklmnopqrstuvwxyz"));
    };
    char small[16];
    const int readsBefore = t.log->reads;
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", small, sizeof small, 5000));
    EXPECT_LE(t.log->reads - readsBefore, 3);

    t.onWrite = [](ScriptedTransport& s, const Bytes&) { s.close(); };
    const uint32_t start = clock.now();
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", small, sizeof small, 5000));
    EXPECT_LT(clock.now() - start, 100u);
}

TEST_F(ExchangeTextTest, DrainsStaleInputBeforeSending) {
    ScriptedTransport& t = link(250, TransportKind::kTcp);
    t.queueRead(bytesOf("<sy,bq = ue/>"));
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", reply, sizeof reply, 0));
}
