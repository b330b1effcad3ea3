// Socket start-up (Windows): Winsock 2.2.
#include <winsock2.h>

#include "platform/network.h"

namespace platform {

bool startNetworking() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopNetworking() { WSACleanup(); }

}  // namespace platform
