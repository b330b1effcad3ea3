// The byte transport over a serial port (RS-232 or a USB adapter).
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial.h"
#include "transport/transport.h"

// Bootloaders are reached at this rate only; the command port is tried at every rate.
constexpr uint32_t kBootloaderBaudRate = 115200;

// Longest wait of one read for its first byte.
constexpr uint32_t kSerialReadTimeoutMs = 150;

class COMTransport : public Transport {
public:
    // portName: a name from comPortTable ("\\.\COM3", "/dev/ttyUSB0", ...). Starts closed.
    COMTransport(std::wstring portName, uint32_t baudRate);
    ~COMTransport() override;

    bool open() override;
    bool isOpen() override { return port_.isOpen(); }
    bool close() override;
    // A failed write closes the port (the adapter has gone); the failure shows through isOpen.
    bool write(const uint8_t* data, uint32_t length) override;
    // Returns as soon as bytes are there, or 0 after kSerialReadTimeoutMs of silence.
    uint16_t read(uint8_t* buffer, uint32_t capacity) override;
    uint16_t readWithin(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
    TransportKind transportKind() override { return TransportKind::kSerial; }
    uint32_t readTimeoutMs() const override { return kSerialReadTimeoutMs; }
    bool discardPendingInput() override;

    virtual const wchar_t* portName() { return portName_.c_str(); }
    uint32_t baudRate() const { return baudRate_; }

private:
    platform::SerialPort port_;
    uint32_t baudRate_;
    std::wstring portName_;
};
