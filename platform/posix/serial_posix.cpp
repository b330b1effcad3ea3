// Serial ports (POSIX): termios on a non-blocking descriptor, waits through poll.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr uint32_t kWriteBaseMs = 500;

std::mutex extraCandidatesMutex;
std::vector<std::wstring> extraCandidates;

// Each rate beside its termios name: here the number is the name.
// NOLINTBEGIN(readability-magic-numbers)
speed_t speedFor(uint32_t baudRate) {
    switch (baudRate) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        default: return B0;
    }
}
// NOLINTEND(readability-magic-numbers)

bool heldExclusively(int fd) {
    int held = 0;
    return ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0;
}

// Opens without waiting for carrier and takes the port for this process alone. The advisory
// lock decides whether the port is free: it dies with its holder, while the terminal's
// exclusive flag outlives a holder that was killed, so a flag found under a free lock is stale
// and is cleared. TIOCEXCL then turns away later opens by programs that do not lock.
int openExclusive(const std::wstring& name) {
    int fd = ::open(toUtf8(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios probe{};
    if (tcgetattr(fd, &probe) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    if (heldExclusively(fd)) ioctl(fd, TIOCNXCL);
    if (ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The exclusive flag belongs to the terminal, not the descriptor: clear it so that it does not
// outlive us while another descriptor keeps the terminal open.
void releaseExclusive(int fd) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

// Raw bytes at 8N1 and the given rate; the flow-control flags (CRTSCTS, IXON, IXOFF) stay.
bool configure(int fd, uint32_t baudRate) {
    speed_t speed = speedFor(baudRate);
    termios settings{};
    if (speed == B0 || tcgetattr(fd, &settings) != 0) return false;
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return cfsetispeed(&settings, speed) == 0 && cfsetospeed(&settings, speed) == 0 &&
           tcsetattr(fd, TCSANOW, &settings) == 0;
}

// A hang-up may come with bytes still to read (kReadyHungUp): those are read first.
enum class Readiness { kTimedOut, kReady, kReadyHungUp, kHungUp };

Readiness waitFor(int fd, short events, uint32_t timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        ready = poll(&entry, 1, static_cast<int>(std::min<uint32_t>(timeoutMs, INT_MAX)));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return Readiness::kTimedOut;
    const bool hungUp = (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (entry.revents & events) return hungUp ? Readiness::kReadyHungUp : Readiness::kReady;
    return Readiness::kHungUp;
}

std::string realPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::vector<std::string> directoryEntries(const char* directory) {
    std::vector<std::string> names;
    DIR* listing = opendir(directory);
    if (!listing) return names;
    while (dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(listing);
    return names;
}

// ttyS2 before ttyS10: by prefix, then by the number at the end.
bool deviceOrder(const std::string& a, const std::string& b) {
    auto split = [](const std::string& name) {
        size_t digits = name.find_last_not_of("0123456789") + 1;
        return std::make_pair(name.substr(0, digits), std::strtoul(name.c_str() + digits, nullptr, 10));
    };
    return split(a) < split(b);
}

// Linux names its ports ttyS/ttyUSB/ttyACM; macOS offers each port twice and only the "cu."
// (call-out) side opens without waiting for carrier detect.
bool isSerialDeviceName(const std::string& name) {
#ifdef __APPLE__
    return name.rfind("cu.", 0) == 0 && name != "cu.Bluetooth-Incoming-Port";
#else
    return name.rfind("ttyS", 0) == 0 || name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
#endif
}

std::vector<std::string> serialDevices() {
    std::vector<std::string> devices;
    for (const std::string& name : directoryEntries("/dev")) {
        if (isSerialDeviceName(name)) devices.push_back(name);
    }
    std::sort(devices.begin(), devices.end(), deviceOrder);
    for (std::string& name : devices) name = "/dev/" + name;
    return devices;
}

// The stable /dev/serial/by-id link to `device`, or the device path itself.
std::string preferredName(const std::string& device) {
    const std::string byId = "/dev/serial/by-id/";
    for (const std::string& link : directoryEntries(byId.c_str())) {
        if (realPath(byId + link) == device) return byId + link;
    }
    return device;
}

// Why an open failed, from the errno it left: the lock and the exclusive flag refuse with
// EWOULDBLOCK and EBUSY, a device that is no terminal with ENOTTY.
bool openFailed(int error, SerialOpenError* failure) {
    if (!failure) return false;
    if (error == EWOULDBLOCK || error == EAGAIN || error == EBUSY) {
        *failure = {SerialOpenError::Kind::kInUse, "in use by another program"};
    } else if (error == ENOTTY) {
        *failure = {SerialOpenError::Kind::kNotSerialPort, "not a serial port"};
    } else {
        *failure = {SerialOpenError::Kind::kSystem, std::strerror(error)};
    }
    return false;
}

}  // namespace

bool SerialPort::open(const std::wstring& name, uint32_t baudRate, SerialOpenError* error) {
    close();
    int fd = openExclusive(name);
    if (fd < 0) return openFailed(errno, error);
    handle_ = fd;
    if (!configure(fd, baudRate)) {
        openFailed(errno, error);
        close();
    }
    return isOpen();
}

void SerialPort::close() {
    if (!isOpen()) return;
    releaseExclusive(static_cast<int>(handle_));
    handle_ = kClosed;
}

uint32_t SerialPort::read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    if (!isOpen() || capacity == 0) return 0;
    int fd = static_cast<int>(handle_);
    const Readiness readiness = waitFor(fd, POLLIN, timeoutMs);
    if (readiness == Readiness::kTimedOut) return 0;
    ssize_t count = -1;
    if (readiness != Readiness::kHungUp) {
        do {
            count = ::read(fd, buffer, capacity);
        } while (count < 0 && errno == EINTR);
    }
    if (count > 0) return static_cast<uint32_t>(count);
    // The far end hung up (a pseudo-terminal's other side closed, an adapter unplugged): every
    // later read would return at once, so the port is closed as after a failed write.
    if (readiness != Readiness::kReady || (count < 0 && errno != EAGAIN)) close();
    return 0;
}

bool SerialPort::write(const uint8_t* data, uint32_t length) {
    if (!isOpen()) return false;
    int fd = static_cast<int>(handle_);
    const uint32_t start = systemTickCount();
    const uint32_t limitMs = kWriteBaseMs + length;
    uint32_t sent = 0;
    while (sent < length) {
        ssize_t count = ::write(fd, data + sent, length - sent);
        if (count > 0) {
            sent += static_cast<uint32_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) return false;
        uint32_t elapsed = ticksBetween(start, systemTickCount());
        if (elapsed >= limitMs) return false;
        if (waitFor(fd, POLLOUT, limitMs - elapsed) == Readiness::kHungUp) return false;
    }
    return true;
}

uint32_t SerialPort::discardInput() {
    if (!isOpen()) return 0;
    int queued = 0;
    if (ioctl(static_cast<int>(handle_), FIONREAD, &queued) != 0) queued = 0;
    tcflush(static_cast<int>(handle_), TCIFLUSH);
    return queued > 0 ? static_cast<uint32_t>(queued) : 0;
}

bool serialPortAvailable(const std::wstring& name) {
    int fd = openExclusive(name);
    if (fd < 0) return false;
    releaseExclusive(fd);
    return true;
}

std::vector<std::wstring> serialPortCandidates() {
    std::vector<std::wstring> names;
    for (const std::string& device : serialDevices()) names.push_back(fromUtf8(preferredName(device)));
    std::lock_guard<std::mutex> lock(extraCandidatesMutex);
    names.insert(names.end(), extraCandidates.begin(), extraCandidates.end());
    return names;
}

void setExtraSerialCandidatesForTesting(std::vector<std::wstring> paths) {
    std::lock_guard<std::mutex> lock(extraCandidatesMutex);
    extraCandidates = std::move(paths);
}

}  // namespace platform
