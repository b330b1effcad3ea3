// Makes the transports that reach a unit; those that probes create for themselves can be
// replaced, so tests can put scripted ones in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transport/transport.h"
#include "transport/unit_address.h"

struct TransportFactory {
    std::function<std::unique_ptr<Transport>(const std::wstring& portName, uint32_t baudRate)> serial;
    std::function<std::unique_ptr<Transport>(uint32_t address, uint32_t port)> tcp;
};

std::unique_ptr<Transport> makeSerialTransport(const std::wstring& portName, uint32_t baudRate);
std::unique_ptr<Transport> makeTcpTransport(uint32_t address, uint32_t port);

// Replaces the real transports for the whole process; nullptr restores them. The factory must
// outlive its use.
void setTransportFactoryForTesting(const TransportFactory* factory);

// The unit's bootloader: its serial port at 115200 baud, or UDP to its address. Unopened, and
// always a real transport: tests hand scripted bootloaders to the code under test directly.
std::unique_ptr<Transport> makeBootloaderTransport(const UnitAddress& unit);
