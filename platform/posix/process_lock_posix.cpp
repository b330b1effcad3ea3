// The lock is flock on a file in the user's runtime folder (or /tmp), holding the holder's pid.
#include "platform/process_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// Read and write for the owner, read for everyone else: another user may still find the holder.
constexpr mode_t kLockFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;

std::string lockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime && *runtime ? runtime : "/tmp";
    return folder + "/ztupdate-" + name + ".lock";
}

uint32_t readPid(int fd) {
    char text[16] = {};
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    return got > 0 ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 0;
}

// The pid only helps the message of the process that finds the lock taken: a failed write
// leaves the lock as good.
void writePid(int fd) {
    const std::string text = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0) return;
    const ssize_t written = pwrite(fd, text.data(), text.size(), 0);
    (void)written;
}

}  // namespace

bool ProcessLock::acquire(const std::string& name, uint32_t& holderPid) {
    release();
    holderPid = 0;
    const std::string path = lockPath(name);
    // Another user's lock file may be read-only to us; a shared flock on it still excludes.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLockFileMode);
    if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool taken = errno == EWOULDBLOCK;
        if (taken) holderPid = readPid(fd);
        close(fd);
        return !taken;
    }
    writePid(fd);
    handle_ = fd;
    return true;
}

void ProcessLock::release() {
    if (handle_ == kNone) return;
    close(static_cast<int>(handle_));
    handle_ = kNone;
}

}  // namespace platform
