// The IPv4 address and mask of every network interface, replaceable in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

struct InterfaceAddress {
    uint32_t address;  // network byte order
    uint32_t mask;     // network byte order
};

using InterfaceSource = std::function<std::vector<InterfaceAddress>()>;

// Every interface with an IPv4 address, loopback included, as the installed source reports it.
std::vector<InterfaceAddress> interfaceAddresses();

// Replaces the system's table for the whole process; an empty function restores it.
void setInterfaceSourceForTesting(InterfaceSource source);

// The system's own table, whatever source is installed.
std::vector<InterfaceAddress> systemInterfaceAddresses();

}  // namespace platform
