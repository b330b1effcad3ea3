// Process-wide start and end of socket use (Winsock on Windows; nothing to do elsewhere).
#pragma once

namespace platform {

// Call before the first socket is made; each successful call is matched by stopNetworking.
bool startNetworking();
void stopNetworking();

}  // namespace platform
