// Whole-file reads and file opens (POSIX).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/files.h"

namespace platform {

namespace {

bool fail(std::string* reason, const char* text) {
    if (reason) *reason = text;
    return false;
}

bool failWithErrno(std::string* reason) { return fail(reason, std::strerror(errno)); }

bool checkRegular(const struct stat& info, std::string* reason) {
    if (S_ISDIR(info.st_mode)) return fail(reason, "is a directory");
    if (!S_ISREG(info.st_mode)) return fail(reason, "not a regular file");
    if (static_cast<uint64_t>(info.st_size) > UINT32_MAX) return fail(reason, "larger than 4 GiB");
    return true;
}

bool readAll(int fd, std::vector<uint8_t>& bytes, std::string* reason) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return failWithErrno(reason);
    if (!checkRegular(info, reason)) return false;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failWithErrno(reason);
        if (got == 0) return fail(reason, "the file shrank while it was read");
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string* reason) {
    bytes.clear();
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return failWithErrno(reason);
    if (!checkRegular(info, reason)) return false;
    // O_NONBLOCK: should the name become a FIFO after the stat, the open still returns at once.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return failWithErrno(reason);
    bool ok = readAll(fd, bytes, reason);
    close(fd);
    if (!ok) bytes.clear();
    return ok;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

}  // namespace platform
