// The serial-port table, rebuilt on device changes while discovery may be reading it.
#include "transport/com_port_table.h"

#include <mutex>

#include "platform/serial.h"

const uint32_t baudRates[] = {4800, 9600, 19200, 38400, 57600, 115200, 0};

std::wstring comPortTable[kComPortTableSize];

namespace {

// Guards writes to comPortTable and reads from other threads than the enumerating one.
std::mutex tableMutex;

}  // namespace

void enumerateComPorts() {
    std::vector<std::wstring> found;
    for (const std::wstring& name : platform::serialPortCandidates()) {
        if (found.size() == kComPortTableSize) break;
        if (platform::serialPortAvailable(name)) found.push_back(name);
    }
    std::lock_guard<std::mutex> lock(tableMutex);
    for (size_t i = 0; i < kComPortTableSize; ++i) {
        comPortTable[i] = i < found.size() ? found[i] : std::wstring();
    }
}

std::vector<std::wstring> comPortSnapshot() {
    std::lock_guard<std::mutex> lock(tableMutex);
    std::vector<std::wstring> names;
    for (const std::wstring& name : comPortTable) {
        if (name.empty()) break;
        names.push_back(name);
    }
    return names;
}

std::wstring comPortAt(size_t index) {
    std::lock_guard<std::mutex> lock(tableMutex);
    return index < kComPortTableSize ? comPortTable[index] : std::wstring();
}
