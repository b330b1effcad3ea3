// Pseudo-terminal pair (POSIX): posix_openpt for the far end, its slave kept open as the near end.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/pseudo_terminal.h"
#include "platform/text.h"

namespace platform {

namespace {

// Each termios setting beside the number it stands for: here the number is the name.
// NOLINTBEGIN(readability-magic-numbers)
uint32_t rateOf(speed_t speed) {
    switch (speed) {
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        default: return 0;
    }
}

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS8: return 8;
        case CS7: return 7;
        default: return 0;
    }
}
// NOLINTEND(readability-magic-numbers)

}  // namespace

PseudoTerminal::~PseudoTerminal() {
    closeFar();
    if (near_ >= 0) ::close(near_);
}

bool PseudoTerminal::open() {
    far_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (far_ < 0 || grantpt(far_) != 0 || unlockpt(far_) != 0 || ptsname_r(far_, name, sizeof name) != 0) return false;
    near_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (near_ < 0 || tcgetattr(near_, &settings) != 0) return false;
    // Raw until the transport configures it, so nothing is echoed back to the far end.
    cfmakeraw(&settings);
    if (tcsetattr(near_, TCSANOW, &settings) != 0) return false;
    portName_ = fromUtf8(name);
    return true;
}

uint32_t PseudoTerminal::readFar(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    pollfd entry{far_, POLLIN, 0};
    if (far_ < 0 || poll(&entry, 1, static_cast<int>(timeoutMs)) <= 0) return 0;
    ssize_t count = ::read(far_, buffer, capacity);
    return count > 0 ? static_cast<uint32_t>(count) : 0;
}

bool PseudoTerminal::writeFar(const uint8_t* data, uint32_t length) {
    uint32_t sent = 0;
    while (far_ >= 0 && sent < length) {
        ssize_t count = ::write(far_, data + sent, length - sent);
        if (count < 0 && errno != EINTR) return false;
        if (count > 0) sent += static_cast<uint32_t>(count);
    }
    return sent == length;
}

bool PseudoTerminal::markNearExclusive() { return near_ >= 0 && ioctl(near_, TIOCEXCL) == 0; }

void PseudoTerminal::closeFar() {
    if (far_ >= 0) ::close(far_);
    far_ = -1;
}

bool PseudoTerminal::nearSettings(SerialLineSettings& line) const {
    termios settings{};
    if (near_ < 0 || tcgetattr(near_, &settings) != 0) return false;
    line.baudRate =
        rateOf(cfgetospeed(&settings)) == rateOf(cfgetispeed(&settings)) ? rateOf(cfgetospeed(&settings)) : 0;
    line.dataBits = dataBitsOf(settings.c_cflag);
    line.parity = (settings.c_cflag & PARENB) != 0;
    line.stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    line.hardwareFlowControl = (settings.c_cflag & CRTSCTS) != 0;
    line.softwareFlowControl = (settings.c_iflag & (IXON | IXOFF)) != 0;
    line.raw = (settings.c_lflag & (ECHO | ICANON | ISIG)) == 0 && (settings.c_oflag & OPOST) == 0;
    return true;
}

bool PseudoTerminal::setNearFlowControl(bool hardware, bool software) {
    termios settings{};
    if (near_ < 0 || tcgetattr(near_, &settings) != 0) return false;
    settings.c_cflag = hardware ? (settings.c_cflag | CRTSCTS) : (settings.c_cflag & ~static_cast<tcflag_t>(CRTSCTS));
    const tcflag_t xonXoff = IXON | IXOFF;
    settings.c_iflag = software ? (settings.c_iflag | xonXoff) : (settings.c_iflag & ~xonXoff);
    return tcsetattr(near_, TCSANOW, &settings) == 0;
}

}  // namespace platform
