// Where a unit is reached: the serial port it hangs on, or its IPv4 address.
#pragma once

#include <cstdint>
#include <string>

// A plain value, copied freely between threads; made only through serialPort and network.
struct UnitAddress {
    enum class Kind { kSerial, kNetwork };

    // portName: the device name to open ("\\.\COM3", "/dev/ttyUSB0").
    static UnitAddress serialPort(std::wstring portName);
    // address: IPv4 in network byte order.
    static UnitAddress network(uint32_t address);

    bool isSerial() const { return kind == Kind::kSerial; }
    // What a person reads: "COM3", "/dev/ttyUSB0" or "192.0.2.10".
    std::wstring displayText() const;

    bool operator==(const UnitAddress&) const = default;

    Kind kind = Kind::kNetwork;
    std::wstring portName;  // serial only
    uint32_t ipv4 = 0;      // network only
};
