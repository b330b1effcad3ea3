// Makes the transports that probes create for themselves, so tests can put scripted ones in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transport/transport.h"

struct TransportFactory {
    std::function<std::unique_ptr<Transport>(const std::wstring& portName, uint32_t baudRate)> serial;
    std::function<std::unique_ptr<Transport>(uint32_t address, uint32_t port)> tcp;
};

std::unique_ptr<Transport> makeSerialTransport(const std::wstring& portName, uint32_t baudRate);
std::unique_ptr<Transport> makeTcpTransport(uint32_t address, uint32_t port);

// Replaces the real transports for the whole process; nullptr restores them. The factory must
// outlive its use.
void setTransportFactoryForTesting(const TransportFactory* factory);

// Where a connection transport leads: the port of a "COM" transport, the address of an "IP" or
// "TCP" one. False for a transport of another kind.
bool serialPortOf(Transport& transport, std::wstring& portName);
bool networkAddressOf(Transport& transport, uint32_t& address);
