// Discovery replies: unit name, MAC address, then the announce line with the mode.
#include "sim/discovery_responder.h"

#include <cstring>

std::string discoveryReply(const UnitConfig& config, bool bootloadMode, const uint8_t* request, size_t length) {
    size_t expected = sizeof kDiscoveryRequest - 1;
    if (length != expected || std::memcmp(request, kDiscoveryRequest, expected) != 0) return {};
    return config.unitName + "\r\n" + config.macAddress + "\r\nTavin " + config.model +
           (bootloadMode ? " - Bootload\r\n" : " - Application\r\n");
}
