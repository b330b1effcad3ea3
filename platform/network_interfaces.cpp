// Dispatch between the system's interface table and one installed by a test.
#include "platform/network_interfaces.h"

#include <mutex>

namespace platform {

namespace {
std::mutex sourceMutex;
InterfaceSource installedSource;
}  // namespace

void setInterfaceSourceForTesting(InterfaceSource source) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    installedSource = std::move(source);
}

std::vector<InterfaceAddress> interfaceAddresses() {
    InterfaceSource source;
    {
        std::lock_guard<std::mutex> lock(sourceMutex);
        source = installedSource;
    }
    return source ? source() : systemInterfaceAddresses();
}

}  // namespace platform
