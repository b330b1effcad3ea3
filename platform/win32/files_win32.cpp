// Whole-file reads (Windows).
#include <windows.h>

#include <cstdint>

#include "platform/files.h"

namespace platform {

namespace {

bool readAll(HANDLE file, std::vector<uint8_t>& bytes) {
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > UINT32_MAX) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr) ||
            got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = readAll(file, bytes);
    CloseHandle(file);
    if (!ok) bytes.clear();
    return ok;
}

}  // namespace platform
