// Whole-file reads and output files (POSIX).
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

// What an output file of that kind may be; checked before the open and again on what was opened.
bool checkOutput(const struct stat& info, OutputFile kind, std::string* reason) {
    if (S_ISDIR(info.st_mode)) return fail(reason, "is a directory");
    if (S_ISREG(info.st_mode)) return true;
    if (kind == OutputFile::kStream && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) return true;
    return fail(reason, "not a regular file");
}

}  // namespace

std::filesystem::path argumentPath(const std::string& text) { return std::filesystem::path(text); }

std::FILE* openOutputFile(const std::filesystem::path& path, OutputFile kind, bool replace, std::string* reason) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !checkOutput(info, kind, reason)) return nullptr;
    // O_NONBLOCK: a FIFO without a reader refuses the open (ENXIO) instead of waiting for one.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (replace ? O_TRUNC : O_APPEND);
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        const int error = errno;
        if (error == ENXIO && stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
            fail(reason, "a FIFO that no program reads");
            return nullptr;
        }
        if (error == ENXIO) {
            fail(reason, "not a regular file");
            return nullptr;
        }
        errno = error;
        failWithErrno(reason);
        return nullptr;
    }
    // The name may have changed between the stat and the open: what was opened counts.
    if (fstat(fd, &info) != 0 || !checkOutput(info, kind, reason)) {
        close(fd);
        return nullptr;
    }
    // Writes wait as usual; only the open had to return at once.
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, replace ? "w" : "a");
    if (!file) {
        failWithErrno(reason);
        close(fd);
    }
    return file;
}

bool isStandardOutput(const std::filesystem::path& path) {
    struct stat named {};
    struct stat output {};
    if (stat(path.c_str(), &named) != 0 || fstat(STDOUT_FILENO, &output) != 0) return false;
    if (!S_ISREG(named.st_mode) && !S_ISFIFO(named.st_mode)) return false;
    return named.st_dev == output.st_dev && named.st_ino == output.st_ino;
}

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

}  // namespace platform
