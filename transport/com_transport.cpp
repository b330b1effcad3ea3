// Serial transport: the platform's serial port behind the Transport contract.
#include "transport/com_transport.h"

#include <algorithm>

COMTransport::COMTransport(std::wstring portName, uint32_t baudRate)
    : baudRate_(baudRate), portName_(std::move(portName)) {}

COMTransport::~COMTransport() { close(); }

bool COMTransport::open() { return port_.open(portName_, baudRate_); }

bool COMTransport::close() {
    port_.close();
    return true;
}

bool COMTransport::write(const uint8_t* data, uint32_t length) {
    if (port_.isOpen() && !port_.write(data, length)) port_.close();
    return true;
}

uint16_t COMTransport::read(uint8_t* buffer, uint32_t capacity) {
    return readWithin(buffer, capacity, kSerialReadTimeoutMs);
}

uint16_t COMTransport::readWithin(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    const uint32_t limit = std::min<uint32_t>(capacity, UINT16_MAX);
    return static_cast<uint16_t>(port_.read(buffer, limit, std::min(timeoutMs, kSerialReadTimeoutMs)));
}

bool COMTransport::discardPendingInput() { return port_.discardInput() > 0; }
