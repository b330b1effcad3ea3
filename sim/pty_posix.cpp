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
}

bool PseudoTerminal::open(const std::string& linkPath, std::string& error) {
    master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    const int master = master_.get();
    char name[128] = {};
    if (!master_.valid() || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slaveKeeper_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios settings{};
    if (!slaveKeeper_.valid() || tcgetattr(slaveKeeper_.get(), &settings) != 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    tcsetattr(slaveKeeper_.get(), TCSANOW, &settings);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
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
    ssize_t got = ::read(master_.get(), buffer, capacity);
    return got > 0 ? got : -1;
}

long PseudoTerminal::write(const unsigned char* bytes, size_t count) {
    ssize_t written = ::write(master_.get(), bytes, count);
    return written < 0 ? 0 : written;
}
