// Answers the network discovery request with the unit's three-line announcement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/unit_config.h"

constexpr char kDiscoveryRequest[] = "Discovery: Who is out there ?";

// Returns the reply datagram for `request`, or an empty text when it is not the exact request.
std::string discoveryReply(const UnitConfig& config, bool bootloadMode, const uint8_t* request, size_t length);
