// Discovery replies, sender flags, the address check and the serial identification text.
#include <gtest/gtest.h>

#include <string>

#include "discovery/discovery_formats.h"
#include "discovery/serial_identification.h"
#include "platform/sockets.h"
#include "startup/embedded_content.h"
#include "ui/worker_messages.h"

using platform::InterfaceAddress;
using platform::ipv4Address;

namespace {

const std::string kPrefix = "Tavin ZT Series";

struct ReplyCase {
    const char* name;
    std::string reply;
    bool found;
    uint32_t modeFlags;
};

bool parse(const std::string& reply, uint32_t& modeFlags) {
    modeFlags = 0xDEAD;
    return parseDiscoveryReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), kPrefix, modeFlags);
}

std::vector<InterfaceAddress> officeTable() {
    return {{ipv4Address(127, 0, 0, 1), ipv4Address(255, 0, 0, 0)},
            {ipv4Address(192, 168, 1, 10), ipv4Address(255, 255, 255, 0)},
            {ipv4Address(10, 0, 0, 5), ipv4Address(255, 0, 0, 0)}};
}

bool bootloadText(const std::string& text, size_t prefixLength = kPrefix.size()) {
    return isBootloadIdentification(reinterpret_cast<const uint8_t*>(text.data()), text.size(), prefixLength);
}

}  // namespace

TEST(DiscoveryReply, ModeAndRejection) {
    const ReplyCase cases[] = {
        {"application", "ZT Unit\r\n00-1E\r\nTavin ZT Series - Application\r\n", true, 0},
        {"bootload", "ZT Unit\r\n00-1E\r\nTavin ZT Series - Bootload\r\n", true, UNIT_FLAG_BOOTLOAD},
        {"bootload with bare LF", "a\r\nb\r\nTavin ZT Series - Bootload\n", true, 0},
        {"bootload cut inside its CR LF", "a\r\nb\r\nTavin ZT Series - Bootload\r", true, 0},
        {"unknown mode", "a\r\nb\r\nTavin ZT Series - Sleeping\r\n", true, 0},
        {"trailing bytes ignored", "a\r\nb\r\nTavin ZT Series - Bootload\r\nmore\r\n", true, UNIT_FLAG_BOOTLOAD},
        {"lone CR and LF inside lines", "a\rb\nc\r\nd\r\nTavin ZT Series - Bootload\r\n", true, UNIT_FLAG_BOOTLOAD},
        {"empty first lines", "\r\n\r\nTavin ZT Series - Application\r\n", true, 0},
        {"two lines", "a\r\nb\r\n", false, 0},
        {"LF CR is no line end", "a\n\rb\r\nTavin ZT Series - Bootload\r\n", false, 0},
        {"other model", "a\r\nb\r\nTavin ZT Other - Application\r\n", false, 0},
        {"prefix cut short", "a\r\nb\r\nTavin ZT Ser", false, 0},
        {"empty", "", false, 0},
    };
    for (const ReplyCase& c : cases) {
        uint32_t modeFlags = 0;
        EXPECT_EQ(parse(c.reply, modeFlags), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(modeFlags, c.modeFlags) << c.name;
        }
    }
}

TEST(DiscoveryReply, PrefixComesFromTheUnitProperties) {
    loadEmbeddedContent();
    EXPECT_EQ(announcePrefix(), L"Tavin ZT Series");
    EXPECT_EQ(announcePrefixBytes(announcePrefix()), kPrefix);
    EXPECT_EQ(announcePrefixBytes(std::wstring(300, L'x')).size(), 256u);
}

TEST(DiscoveryRequest, OneDirectedBroadcastPerInterfaceAndNoneForLoopback) {
    EXPECT_EQ(kDiscoveryRequestBytes, 29u);
    EXPECT_EQ(broadcastTargets(officeTable()),
              (std::vector<uint32_t>{ipv4Address(192, 168, 1, 255), ipv4Address(10, 255, 255, 255)}));
    EXPECT_EQ(directedBroadcast({0, 0}), ipv4Address(255, 255, 255, 255));
}

TEST(DiscoverySender, SubnetAndLinkLocalFlags) {
    const auto table = officeTable();
    EXPECT_EQ(classifySender(ipv4Address(192, 168, 1, 77), table), 0u);
    EXPECT_EQ(classifySender(ipv4Address(10, 200, 3, 4), table), 0u);
    EXPECT_EQ(classifySender(ipv4Address(172, 16, 0, 9), table), UNIT_FLAG_OTHER_SUBNET);
    // The loopback entry is no subnet a unit could share.
    EXPECT_EQ(classifySender(ipv4Address(127, 0, 0, 9), table), UNIT_FLAG_OTHER_SUBNET);
    EXPECT_EQ(classifySender(ipv4Address(169, 254, 10, 20), table), UNIT_FLAG_OTHER_SUBNET | UNIT_FLAG_LINK_LOCAL);
    for (uint32_t reserved : {ipv4Address(169, 254, 0, 1), ipv4Address(169, 254, 255, 254),
                              ipv4Address(169, 254, 255, 255), ipv4Address(169, 254, 0, 0)}) {
        EXPECT_FALSE(isLinkLocal(reserved));
    }
    EXPECT_TRUE(isLinkLocal(ipv4Address(169, 254, 0, 2)));
    EXPECT_TRUE(isLinkLocal(ipv4Address(169, 254, 255, 253)));
    EXPECT_FALSE(isLinkLocal(ipv4Address(169, 253, 10, 20)));

    const std::vector<InterfaceAddress> withLinkLocal = {{ipv4Address(169, 254, 1, 1), ipv4Address(255, 255, 0, 0)}};
    EXPECT_EQ(classifySender(ipv4Address(169, 254, 10, 20), withLinkLocal), UNIT_FLAG_LINK_LOCAL);
    const std::vector<InterfaceAddress> anyAddress = {{0, 0}};
    EXPECT_EQ(classifySender(ipv4Address(203, 0, 113, 5), anyAddress), 0u);
}

TEST(UsableUnitAddress, LoopbackAndLocalBroadcastsAreRefused) {
    platform::setInterfaceSourceForTesting(officeTable);
    EXPECT_FALSE(isUsableUnitAddress(ipv4Address(127, 0, 0, 1)));
    EXPECT_FALSE(isUsableUnitAddress(ipv4Address(192, 168, 1, 255)));
    EXPECT_FALSE(isUsableUnitAddress(ipv4Address(10, 255, 255, 255)));
    EXPECT_TRUE(isUsableUnitAddress(ipv4Address(192, 168, 1, 20)));
    EXPECT_TRUE(isUsableUnitAddress(ipv4Address(127, 0, 0, 2)));
    // 127.255.255.255 belongs to the loopback entry, which the check skips.
    EXPECT_TRUE(isUsableUnitAddress(ipv4Address(127, 255, 255, 255)));

    platform::setInterfaceSourceForTesting([] { return std::vector<InterfaceAddress>{}; });
    EXPECT_TRUE(isUsableUnitAddress(ipv4Address(192, 168, 1, 255)));
    EXPECT_FALSE(isUsableUnitAddress(ipv4Address(127, 0, 0, 1)));
    platform::setInterfaceSourceForTesting(nullptr);
}

TEST(SerialIdentification, OnlyTheModeAfterThePrefixLengthCounts) {
    EXPECT_TRUE(bootloadText("ZT Unit\r\n00-1E\r\nTavin ZT Series - Bootload\r\n"));
    EXPECT_TRUE(bootloadText("ZT Unit\r\n00-1E\r\nTavin ZT Series - Bootload"));
    // Same length, another model: the name is not compared here.
    EXPECT_TRUE(bootloadText("a\r\nb\r\nTavin XY Qwerty - Bootload\r\n"));
    // Any byte after a CR is skipped, not only LF.
    EXPECT_TRUE(bootloadText("a\rxb\ryTavin ZT Series - Bootload"));
    EXPECT_FALSE(bootloadText("a\r\nb\r\nTavin ZT Series - Application\r\n"));
    EXPECT_FALSE(bootloadText("a\r\nb\r\nTavin ZT Series - Bootloader\r\n"));
    EXPECT_FALSE(bootloadText("a\r\nb\r\nTavin ZT - Bootload\r\n"));
    EXPECT_FALSE(bootloadText("a\r\nb\r\nTavin ZT Series\r\n"));
    EXPECT_FALSE(bootloadText("a\r\nb\r\n"));
    EXPECT_FALSE(bootloadText("a\r\nb\r"));
    EXPECT_FALSE(bootloadText("a\r\nTavin ZT Series - Bootload\r\n"));
    EXPECT_FALSE(bootloadText(""));
}
