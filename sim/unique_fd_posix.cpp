// Closing the owned descriptor.
#include <unistd.h>

#include "sim/unique_fd.h"

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}
