// Terminal queries and echo-free input on POSIX.
#include "platform/console.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

namespace {

int descriptorOf(ConsoleStream stream) {
    switch (stream) {
        case ConsoleStream::kInput: return STDIN_FILENO;
        case ConsoleStream::kOutput: return STDOUT_FILENO;
        case ConsoleStream::kError: return STDERR_FILENO;
    }
    return -1;
}

bool readLineFromDescriptor(int fd, std::string& line) {
    line.clear();
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(fd, &c, 1);
        if (got <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
}

}  // namespace

bool isTerminal(ConsoleStream stream) { return ::isatty(descriptorOf(stream)) == 1; }

bool readSecretLine(const char* prompt, std::string& line) {
    if (!isTerminal(ConsoleStream::kInput)) return false;
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off (dropping earlier type-ahead) before the prompt shows, so nothing typed
    // after the prompt is either echoed or discarded.
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return false;
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    const bool read = readLineFromDescriptor(STDIN_FILENO, line);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return read;
}

bool enableTerminalControls() { return isTerminal(ConsoleStream::kOutput); }

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace platform
