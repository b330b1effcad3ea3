// Network discovery datagrams, the sender classification and the address check.
//
//   request (UDP to port 30303): "Discovery: Who is out there ?" (29 bytes, no terminator)
//   reply: line 1 CR LF, line 2 CR LF, announce prefix + " - Application\r\n" | " - Bootload\r\n"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network_interfaces.h"

constexpr uint16_t kDiscoveryPort = 30303;
constexpr char kDiscoveryRequest[] = "Discovery: Who is out there ?";
constexpr uint32_t kDiscoveryRequestBytes = sizeof kDiscoveryRequest - 1;
// Replies longer than this are dropped.
constexpr uint32_t kDiscoveryReplyBytes = 256;

// "Tavin " + the unit's "announce-model" property, at most 255 characters.
std::wstring announcePrefix();
// The prefix as the 8-bit text that replies carry, at most 256 bytes.
std::string announcePrefixBytes(const std::wstring& prefix);

// True when `reply` comes from a unit of this model; modeFlags is then UNIT_FLAG_BOOTLOAD for
// the exact " - Bootload\r\n" suffix, else 0. Never reads past `length` bytes.
bool parseDiscoveryReply(const uint8_t* reply, size_t length, std::string_view prefix, uint32_t& modeFlags);

// What a reply says of the unit beyond its mode: the host name (line 1), the MAC address
// (line 2) and the announce line without its mode suffix; each empty when missing.
struct DiscoveryAnnouncement {
    std::string hostName;
    std::string mac;
    std::string model;
};
DiscoveryAnnouncement announcementOf(const uint8_t* reply, size_t length);

// Addresses and masks in network byte order.
uint32_t directedBroadcast(const platform::InterfaceAddress& entry);
// One directed broadcast per interface in table order; 127.0.0.1 gets none.
std::vector<uint32_t> broadcastTargets(const std::vector<platform::InterfaceAddress>& table);
bool isLinkLocal(uint32_t address);
// UNIT_FLAG_OTHER_SUBNET and UNIT_FLAG_LINK_LOCAL for a reply's sender.
uint32_t classifySender(uint32_t sender, const std::vector<platform::InterfaceAddress>& table);

// False for 127.0.0.1 and for the directed broadcast of any interface in `table`.
bool isUsableUnitAddressIn(uint32_t address, const std::vector<platform::InterfaceAddress>& table);
// The same against the system's interface table; true when that table cannot be read.
bool isUsableUnitAddress(uint32_t address);
