// Console queries and echo-free input on Windows.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>

namespace platform {

namespace {

DWORD handleIdOf(ConsoleStream stream) {
    switch (stream) {
        case ConsoleStream::kInput: return STD_INPUT_HANDLE;
        case ConsoleStream::kOutput: return STD_OUTPUT_HANDLE;
        case ConsoleStream::kError: return STD_ERROR_HANDLE;
    }
    return STD_OUTPUT_HANDLE;
}

volatile LONG firstInterrupt = 0;
constexpr LONG kInterruptNumber = 2;
HANDLE promptInput = nullptr;
volatile DWORD promptSavedMode = 0;

// Runs on a thread of its own: the first event is recorded, a second ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    if (InterlockedCompareExchange(&firstInterrupt, kInterruptNumber, 0) == 0) {
        if (promptInput) CancelIoEx(promptInput, nullptr);
        return TRUE;
    }
    if (promptInput) SetConsoleMode(promptInput, promptSavedMode);
    ExitProcess(128 + kInterruptNumber);
}

}  // namespace

// A console handle answers GetConsoleMode; files, pipes and the null device do not.
bool isTerminal(ConsoleStream stream) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(handleIdOf(stream)), &mode) != 0;
}

// A write to a pipe fails only when its reader has gone.
bool outputReaderGone(ConsoleStream stream) { return GetFileType(GetStdHandle(handleIdOf(stream))) == FILE_TYPE_PIPE; }

bool readSecretLine(const char* prompt, std::string& line) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return false;
    // Echo goes off before the prompt shows, so a quick typist's digits are never echoed.
    promptSavedMode = saved;
    promptInput = input;
    SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    line.clear();
    char buffer[256];
    DWORD got = 0;
    const bool read = ReadConsoleA(input, buffer, sizeof buffer, &got, nullptr) != 0;
    SetConsoleMode(input, saved);
    promptInput = nullptr;
    std::fputs("\n", stderr);
    if (!read || firstInterrupt != 0) return false;
    for (DWORD i = 0; i < got && buffer[i] != '\r' && buffer[i] != '\n'; ++i) line += buffer[i];
    return true;
}

namespace {

// Some consoles (Wine's) keep the mode bit yet print the sequences as text. An erase written to
// a hidden screen buffer tells them apart: only where it was carried out does the cursor stay put.
bool consoleCarriesOutSequences() {
    HANDLE probe =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    constexpr char kEraseToLineEnd[] = "\x1b[K";
    DWORD written = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool carriedOut = SetConsoleMode(probe, ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
                            WriteConsoleA(probe, kEraseToLineEnd, sizeof kEraseToLineEnd - 1, &written, nullptr) &&
                            GetConsoleScreenBufferInfo(probe, &info) && info.dwCursorPosition.X == 0;
    CloseHandle(probe);
    return carriedOut;
}

}  // namespace

bool enableTerminalControls(ConsoleStream stream) {
    HANDLE output = GetStdHandle(handleIdOf(stream));
    DWORD mode = 0;
    if (!GetConsoleMode(output, &mode)) return false;
    if (!SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
    if (consoleCarriesOutSequences()) return true;
    SetConsoleMode(output, mode);
    return false;
}

int terminalColumns(ConsoleStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(handleIdOf(stream)), &info)) return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

int terminalRows(ConsoleStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(handleIdOf(stream)), &info)) return 24;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void installInterruptHandling() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

int interruptSignal() { return static_cast<int>(firstInterrupt); }

// Console events arrive on a thread of their own, so nothing needs holding off.
InterruptsHeldOff::InterruptsHeldOff() : saved_{} {}
InterruptsHeldOff::~InterruptsHeldOff() = default;

}  // namespace platform
