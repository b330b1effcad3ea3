// Whole-file reads and output files (Windows).
#include <windows.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

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

// The file a handle has open: volume and index, as GetFileInformationByHandle gives them.
bool identityOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& identity) {
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, &identity) != 0;
}

}  // namespace

std::filesystem::path argumentPath(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int wideChars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    std::wstring wide;
    if (wideChars > 0) {
        wide.resize(static_cast<size_t>(wideChars));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), wideChars);
    } else {
        for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return std::filesystem::path(wide);
}

// Pipes (\\.\pipe\...) either open at once or fail with ERROR_PIPE_BUSY, so no open here waits.
std::FILE* openOutputFile(const std::filesystem::path& path, OutputFile kind, bool replace, std::string* reason) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            fail(reason, "is a directory");
            return nullptr;
        }
        if (kind == OutputFile::kDocument && (attributes & FILE_ATTRIBUTE_DEVICE)) {
            fail(reason, "not a regular file");
            return nullptr;
        }
    }
    std::FILE* file = _wfopen(path.c_str(), replace ? L"w" : L"a");
    if (!file) {
        if (reason) *reason = std::strerror(errno);
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (kind == OutputFile::kDocument && GetFileType(handle) != FILE_TYPE_DISK) {
        std::fclose(file);
        fail(reason, "not a regular file");
        return nullptr;
    }
    return file;
}

bool isStandardOutput(const std::filesystem::path& path) {
    BY_HANDLE_FILE_INFORMATION output{};
    if (!identityOf(GetStdHandle(STD_OUTPUT_HANDLE), output)) return false;
    const HANDLE named = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION identity{};
    const bool known = identityOf(named, identity);
    if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
    return known && identity.dwVolumeSerialNumber == output.dwVolumeSerialNumber &&
           identity.nFileIndexHigh == output.nFileIndexHigh && identity.nFileIndexLow == output.nFileIndexLow;
}

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

}  // namespace platform
