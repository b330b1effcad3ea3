// A pseudo-terminal pair that stands in for a serial cable in tests and benchmarks: the near
// end is opened by name like any serial port, the far end is driven directly.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The near end's line settings as the terminal driver holds them.
struct SerialLineSettings {
    uint32_t baudRate = 0;
    int dataBits = 0;
    bool parity = false;
    int stopBits = 0;
    bool hardwareFlowControl = false;
    bool softwareFlowControl = false;  // XON/XOFF in either direction
    bool raw = false;                  // no echo, no line editing, no output processing
};

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // False where the system has no pseudo-terminals (Windows).
    bool open();
    // The near end's device path.
    const std::wstring& portName() const { return portName_; }

    uint32_t readFar(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);
    bool writeFar(const uint8_t* data, uint32_t length);
    // The far end goes away, as when a USB adapter is pulled.
    void closeFar();

    bool nearSettings(SerialLineSettings& settings) const;
    // Switches the near end's hardware and software flow control on or off.
    bool setNearFlowControl(bool hardware, bool software);
    // Sets the near end's exclusive-use flag as a program killed while it held the port
    // leaves it.
    bool markNearExclusive();

private:
    int far_ = -1;
    int near_ = -1;
    std::wstring portName_;
};

}  // namespace platform
