// Socket start-up (POSIX): nothing to initialise.
#include "platform/network.h"

namespace platform {

bool startNetworking() { return true; }
void stopNetworking() {}

}  // namespace platform
