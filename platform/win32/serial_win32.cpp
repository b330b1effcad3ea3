// Serial ports (Windows): the Win32 communications API.
#include <windows.h>

#include <cwchar>
#include <mutex>

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/win32/system_error_win32.h"

namespace platform {

namespace {

constexpr DWORD kWriteBaseMs = 500;

std::mutex extraCandidatesMutex;
std::vector<std::wstring> extraCandidates;

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Documented for CreateWaitableTimerExW from Windows 10 1803 on; older headers lack it.
constexpr DWORD kHighResolutionTimer = 0x00000002;
constexpr LONGLONG kPollPause100ns = -10000;  // 1 ms, relative

// Share mode 0: Windows refuses the port while another program holds it.
HANDLE openExclusive(const std::wstring& name) {
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Wine marks itself by an export of ntdll that Windows lacks.
bool underWine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// waitMs 0: a read returns at once with what is there. Otherwise it returns as soon as the
// first byte is there, or empty after waitMs: the driver wakes the read, so a reply costs no
// poll interval. Under Wine that setting holds every read for the full time, and Wine aborts
// WaitCommEvent on a pseudo-terminal at once, so there reads return at once and are polled.
bool setTimeouts(HANDLE port, DWORD waitMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = waitMs == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = kWriteBaseMs;
    return SetCommTimeouts(port, &timeouts) != 0;
}

// Only the rate and framing change; flow control, DTR/RTS and XON/XOFF stay as they were.
bool setLine(HANDLE port, uint32_t baudRate) {
    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(port, &line);
    line.BaudRate = baudRate;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fParity = 0;
    return SetCommState(port, &line) != 0;
}

// The pause between polls. Sleep(1) lasts a whole timer tick on Windows, 15.6 ms unless the
// resolution is raised, which would add minutes to an update of 12,500 exchanges; a
// high-resolution waitable timer lasts about 1 ms without changing the system's tick.
class PollPause {
public:
    PollPause() : timer_(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS)) {}
    ~PollPause() {
        if (timer_) CloseHandle(timer_);
    }
    PollPause(const PollPause&) = delete;
    PollPause& operator=(const PollPause&) = delete;

    // Windows before 10 1803 refuse the timer: there only the tick is left.
    void wait() {
        LARGE_INTEGER due;
        due.QuadPart = kPollPause100ns;
        if (timer_ && SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(timer_, INFINITE);
        } else {
            Sleep(1);
        }
    }

private:
    HANDLE timer_;
};

}  // namespace

namespace {

// Why an open failed: share mode 0 makes a held port ERROR_ACCESS_DENIED; otherwise the
// system's own text, without its closing full stop and line break.
bool openFailed(DWORD error, SerialOpenError* failure) {
    if (!failure) return false;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        *failure = {SerialOpenError::Kind::kInUse, "in use by another program"};
        return false;
    }
    *failure = {SerialOpenError::Kind::kSystem, systemErrorText(error)};
    return false;
}

// A port whose line is gone: the non-blocking ReadFile may still succeed with nothing read
// (Wine does so on a hung-up pseudo-terminal), but the port's state can no longer be read.
bool lineGone(HANDLE port) {
    COMSTAT status{};
    DWORD errors = 0;
    return !ClearCommError(port, &errors, &status);
}

}  // namespace

bool SerialPort::open(const std::wstring& name, uint32_t baudRate, SerialOpenError* error) {
    close();
    HANDLE port = openExclusive(name);
    if (port == INVALID_HANDLE_VALUE) return openFailed(GetLastError(), error);
    handle_ = reinterpret_cast<std::intptr_t>(port);
    setTimeouts(port, 0);
    if (!setLine(port, baudRate)) close();
    return isOpen();
}

void SerialPort::close() {
    if (!isOpen()) return;
    CloseHandle(handleOf(handle_));
    handle_ = kClosed;
}

// A port that fails (the far end gone, an adapter unplugged) is closed, as after a failed
// write: every later read would fail at once and leave the caller spinning.
uint32_t SerialPort::read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    if (!isOpen() || capacity == 0) return 0;
    if (!underWine()) {
        DWORD count = 0;
        if (!setTimeouts(handleOf(handle_), timeoutMs) ||
            !ReadFile(handleOf(handle_), buffer, capacity, &count, nullptr)) {
            close();
            return 0;
        }
        if (count == 0 && lineGone(handleOf(handle_))) close();
        return count;
    }
    const uint32_t start = systemTickCount();
    PollPause pause;
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(handleOf(handle_), buffer, capacity, &count, nullptr) ||
            (count == 0 && lineGone(handleOf(handle_)))) {
            close();
            return 0;
        }
        if (count > 0) return count;
        if (ticksBetween(start, systemTickCount()) >= timeoutMs) return 0;
        pause.wait();
    }
}

bool SerialPort::write(const uint8_t* data, uint32_t length) {
    if (!isOpen()) return false;
    DWORD written = 0;
    return WriteFile(handleOf(handle_), data, length, &written, nullptr) && written == length;
}

uint32_t SerialPort::discardInput() {
    if (!isOpen()) return 0;
    COMSTAT status{};
    DWORD errors = 0;
    DWORD queued = ClearCommError(handleOf(handle_), &errors, &status) ? status.cbInQue : 0;
    PurgeComm(handleOf(handle_), PURGE_RXCLEAR);
    return queued;
}

bool serialPortAvailable(const std::wstring& name) {
    HANDLE port = openExclusive(name);
    if (port == INVALID_HANDLE_VALUE) return false;
    CloseHandle(port);
    return true;
}

std::vector<std::wstring> serialPortCandidates() {
    std::vector<std::wstring> names;
    for (unsigned number = 1; number <= 255; ++number) {
        wchar_t name[16];
        std::swprintf(name, 16, L"\\\\.\\COM%u", number);
        names.emplace_back(name);
    }
    std::lock_guard<std::mutex> lock(extraCandidatesMutex);
    names.insert(names.end(), extraCandidates.begin(), extraCandidates.end());
    return names;
}

void setExtraSerialCandidatesForTesting(std::vector<std::wstring> paths) {
    std::lock_guard<std::mutex> lock(extraCandidatesMutex);
    extraCandidates = std::move(paths);
}

}  // namespace platform
