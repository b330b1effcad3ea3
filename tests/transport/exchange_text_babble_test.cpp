// A command port that never stops sending: the exchange ends within its budgets instead of
// draining for as long as the peer keeps talking.
#include <gtest/gtest.h>

#include "tests/support/scripted_transport.h"

TEST(ExchangeTextBabble, EndlessInputEndsTheDrainAndTheExchange) {
    FakeClock clock;
    ScriptedTransport t(clock, 250, TransportKind::kTcp);
    t.open();
    // Each read brings bytes and costs 1 ms: 20 s of talk without a ">".
    for (int i = 0; i < 20000; ++i) t.queueRead(bytesOf("<sy,bq = ue and never closed"));
    char reply[16];
    const uint32_t start = clock.now();
    EXPECT_FALSE(t.exchangeText("<SY,BQ/>", reply, sizeof reply, 1000));
    // At most a second of draining, then the reply's budget of a second.
    EXPECT_LE(clock.now() - start, 2100u);
    EXPECT_EQ(t.log->writes.size(), 2u);
}
