// Serial ports: exclusive open at 8N1, reads with a time-out, the list of ports to try.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Why an open failed: the kind, for callers to word their message, and the text to show.
struct SerialOpenError {
    enum class Kind { kInUse, kNotSerialPort, kSystem };
    Kind kind = Kind::kSystem;
    // "in use by another program", "not a serial port", or the system's own text ("No such
    // file or directory"); empty when the system gave none.
    std::string reason;
};

// One open serial port, released by close or the destructor. Used by one thread at a time.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `name` for this process alone and sets the rate, 8 data bits, no parity and one
    // stop bit; flow control stays as the port had it. Closes a port already held first.
    // On failure error (when given) says why.
    bool open(const std::wstring& name, uint32_t baudRate, SerialOpenError* error = nullptr);
    bool isOpen() const { return handle_ != kClosed; }
    void close();
    // Returns as soon as bytes are there (up to capacity), or 0 once timeoutMs pass without
    // any; 0 also on an error.
    uint32_t read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);
    // Sends every byte, giving up after 500 ms plus 1 ms a byte; false on failure.
    bool write(const uint8_t* data, uint32_t length);
    // Drops the bytes received and not yet read, without waiting; returns how many there were.
    uint32_t discardInput();

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
};

// True when `name` could be opened exclusively right now (it exists and nobody holds it).
bool serialPortAvailable(const std::wstring& name);

// Names worth trying, in order: "\\.\COM1" to "\\.\COM255" on Windows; the /dev/ttyS*,
// /dev/ttyUSB* and /dev/ttyACM* devices elsewhere (by their /dev/serial/by-id name where one
// exists), followed by the paths added for testing.
std::vector<std::wstring> serialPortCandidates();

// Adds device paths (pseudo-terminals, for instance) to the end of the candidates; an empty
// list removes them again.
void setExtraSerialCandidatesForTesting(std::vector<std::wstring> paths);

}  // namespace platform
