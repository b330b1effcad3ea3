// The lock is a file in the temporary folder opened for writing without write sharing; the
// holder's pid inside stays readable to the process that finds it taken.
#include "platform/process_lock.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace platform {

namespace {

std::wstring lockPath(const std::string& name) {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    std::wstring path = length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring(L".\\");
    return path + L"ztupdate-" + fromUtf8(name) + L".lock";
}

uint32_t readPid(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    char text[16] = {};
    DWORD got = 0;
    const BOOL read = ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    return read && got > 0 ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 0;
}

void writePid(HANDLE file) {
    const std::string text = std::to_string(GetCurrentProcessId()) + "\r\n";
    DWORD written = 0;
    SetEndOfFile(file);
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

bool ProcessLock::acquire(const std::string& name, uint32_t& holderPid) {
    release();
    holderPid = 0;
    const std::wstring path = lockPath(name);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_SHARING_VIOLATION) return true;
        holderPid = readPid(path);
        return false;
    }
    writePid(file);
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

void ProcessLock::release() {
    if (handle_ == kNone) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kNone;
}

}  // namespace platform
