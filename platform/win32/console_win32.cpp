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

}  // namespace

// A console handle answers GetConsoleMode; files, pipes and the null device do not.
bool isTerminal(ConsoleStream stream) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(handleIdOf(stream)), &mode) != 0;
}

bool readSecretLine(const char* prompt, std::string& line) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return false;
    // Echo goes off before the prompt shows, so a quick typist's digits are never echoed.
    SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    line.clear();
    char buffer[256];
    DWORD got = 0;
    const bool read = ReadConsoleA(input, buffer, sizeof buffer, &got, nullptr) != 0;
    SetConsoleMode(input, saved);
    std::fputs("\n", stderr);
    if (!read) return false;
    for (DWORD i = 0; i < got && buffer[i] != '\r' && buffer[i] != '\n'; ++i) line += buffer[i];
    return true;
}

bool enableTerminalControls() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(output, &mode)) return false;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace platform
