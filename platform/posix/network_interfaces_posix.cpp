// Interface table (POSIX): getifaddrs.
#include <ifaddrs.h>
#include <netinet/in.h>

#include "platform/network_interfaces.h"

namespace platform {

std::vector<InterfaceAddress> systemInterfaceAddresses() {
    std::vector<InterfaceAddress> table;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return table;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_netmask) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        table.push_back({address->sin_addr.s_addr, mask->sin_addr.s_addr});
    }
    freeifaddrs(list);
    return table;
}

}  // namespace platform
