// The IPv4 interface table: the system's own, and a source installed by a test.
#include <gtest/gtest.h>

#include "platform/network.h"
#include "platform/network_interfaces.h"
#include "platform/sockets.h"

TEST(NetworkInterfacesTest, SystemTableHoldsLoopbackInNetworkByteOrder) {
    ASSERT_TRUE(platform::startNetworking());
    bool loopback = false;
    for (const platform::InterfaceAddress& entry : platform::interfaceAddresses()) {
        loopback = loopback || (entry.address == platform::ipv4Address(127, 0, 0, 1) &&
                                entry.mask == platform::ipv4Address(255, 0, 0, 0));
    }
    EXPECT_TRUE(loopback);
    platform::stopNetworking();
}

TEST(NetworkInterfacesTest, InstalledSourceReplacesTheSystemUntilRemoved) {
    const platform::InterfaceAddress testNet{platform::ipv4Address(192, 0, 2, 1),
                                             platform::ipv4Address(255, 255, 255, 0)};
    platform::setInterfaceSourceForTesting([&] { return std::vector<platform::InterfaceAddress>{testNet}; });
    std::vector<platform::InterfaceAddress> table = platform::interfaceAddresses();
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].address, testNet.address);
    EXPECT_EQ(table[0].mask, testNet.mask);

    platform::setInterfaceSourceForTesting({});
    EXPECT_EQ(platform::interfaceAddresses().size(), platform::systemInterfaceAddresses().size());
}
