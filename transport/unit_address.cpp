// A unit's address and its display text.
#include "transport/unit_address.h"

#include "platform/serial_names.h"

UnitAddress UnitAddress::serialPort(std::wstring portName) { return {Kind::kSerial, std::move(portName), 0}; }

UnitAddress UnitAddress::network(uint32_t address) { return {Kind::kNetwork, {}, address}; }

std::wstring UnitAddress::displayText() const {
    if (isSerial()) return platform::serialDisplayName(portName);
    const auto* octets = reinterpret_cast<const uint8_t*>(&ipv4);
    return std::to_wstring(octets[0]) + L"." + std::to_wstring(octets[1]) + L"." + std::to_wstring(octets[2]) + L"." +
           std::to_wstring(octets[3]);
}
