// Interface table (Windows): IP Helper's GetIpAddrTable.
#include <winsock2.h>
#include <iphlpapi.h>

#include "platform/network_interfaces.h"

namespace platform {

std::vector<InterfaceAddress> systemInterfaceAddresses() {
    std::vector<InterfaceAddress> table;
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return table;
    std::vector<unsigned char> storage(size);
    auto* rows = reinterpret_cast<MIB_IPADDRTABLE*>(storage.data());
    if (GetIpAddrTable(rows, &size, FALSE) != NO_ERROR) return table;
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
        table.push_back({rows->table[i].dwAddr, rows->table[i].dwMask});
    }
    return table;
}

}  // namespace platform
