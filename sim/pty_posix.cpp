// Pseudo-terminal pair from posix_openpt, raw 8-bit, non-blocking on the master side.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/pty.h"

PseudoTerminal::~PseudoTerminal() {
    if (!linkPath_.empty()) unlink(linkPath_.c_str());
    if (slaveKeeper_ >= 0) close(slaveKeeper_);
    if (master_ >= 0) close(master_);
}

bool PseudoTerminal::open(const std::string& linkPath, std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slaveKeeper_ < 0 || tcgetattr(slaveKeeper_, &settings) != 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    tcsetattr(slaveKeeper_, TCSANOW, &settings);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (!linkPath.empty()) {
        unlink(linkPath.c_str());
        if (symlink(name, linkPath.c_str()) != 0) {
            error = "cannot link " + linkPath + ": " + std::strerror(errno);
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

long PseudoTerminal::read(unsigned char* buffer, size_t capacity) {
    ssize_t got = ::read(master_, buffer, capacity);
    return got > 0 ? got : -1;
}

long PseudoTerminal::write(const unsigned char* bytes, size_t count) {
    ssize_t written = ::write(master_, bytes, count);
    return written < 0 ? 0 : written;
}
