// Whole-file reads and file opens (Windows): wide names, so any name opens.
#include <windows.h>

#include <cstdint>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/system_error_win32.h"

namespace platform {

namespace {

bool fail(std::string* reason, const char* text) {
    if (reason) *reason = text;
    return false;
}

// The system's own text for the last error, without its closing line break.
bool failWithLastError(std::string* reason) {
    const DWORD code = GetLastError();
    if (!reason) return false;
    *reason = systemErrorText(code);
    return false;
}

// Devices (COM1, CON, \\.\pipe\...) and folders are refused by name, before any open can wait.
bool checkByAttributes(const std::filesystem::path& path, std::string* reason) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failWithLastError(reason);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(reason, "is a directory");
    if (attributes & FILE_ATTRIBUTE_DEVICE) return fail(reason, "not a regular file");
    return true;
}

bool readAll(HANDLE file, std::vector<uint8_t>& bytes, std::string* reason) {
    if (GetFileType(file) != FILE_TYPE_DISK) return fail(reason, "not a regular file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return failWithLastError(reason);
    if (size.QuadPart > UINT32_MAX) return fail(reason, "larger than 4 GiB");
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)) {
            return failWithLastError(reason);
        }
        if (got == 0) return fail(reason, "the file shrank while it was read");
        done += got;
    }
    return true;
}

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string* reason) {
    bytes.clear();
    if (!checkByAttributes(path, reason)) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failWithLastError(reason);
    bool ok = readAll(file, bytes, reason);
    CloseHandle(file);
    if (!ok) bytes.clear();
    return ok;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
    return _wfopen(fromUtf8(utf8Path).c_str(), fromUtf8(mode).c_str());
}

}  // namespace platform
