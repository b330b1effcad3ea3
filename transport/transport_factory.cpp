// Real transports by default; a test factory when one is installed.
#include "transport/transport_factory.h"

#include <atomic>

#include "transport/com_transport.h"
#include "transport/ethernet_transport.h"

namespace {
std::atomic<const TransportFactory*> testFactory{nullptr};
}

void setTransportFactoryForTesting(const TransportFactory* factory) { testFactory.store(factory); }

std::unique_ptr<Transport> makeSerialTransport(const std::wstring& portName, uint32_t baudRate) {
    const TransportFactory* factory = testFactory.load();
    if (factory && factory->serial) return factory->serial(portName, baudRate);
    return std::make_unique<COMTransport>(portName, baudRate);
}

std::unique_ptr<Transport> makeTcpTransport(uint32_t address, uint32_t port) {
    const TransportFactory* factory = testFactory.load();
    if (factory && factory->tcp) return factory->tcp(address, port);
    return std::make_unique<EthernetTransportTCP>(address, port);
}

std::unique_ptr<Transport> makeBootloaderTransport(const UnitAddress& unit) {
    if (unit.isSerial()) return std::make_unique<COMTransport>(unit.portName, kBootloaderBaudRate);
    return std::make_unique<EthernetTransport>(unit.ipv4);
}
