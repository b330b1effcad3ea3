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

bool serialPortOf(Transport& transport, std::wstring& portName) {
    auto* com = dynamic_cast<COMTransport*>(&transport);
    if (!com) return false;
    portName = com->portName();
    return true;
}

bool networkAddressOf(Transport& transport, uint32_t& address) {
    if (auto* udp = dynamic_cast<EthernetTransport*>(&transport)) {
        address = udp->address();
        return true;
    }
    if (auto* tcp = dynamic_cast<EthernetTransportTCP*>(&transport)) {
        address = tcp->address();
        return true;
    }
    return false;
}
