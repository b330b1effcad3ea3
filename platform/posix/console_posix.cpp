// Terminal queries and echo-free input on POSIX.
#include "platform/console.h"

#include <pthread.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

volatile sig_atomic_t firstInterrupt = 0;
// The settings to put back should the process end inside readSecretLine.
termios savedTerminal{};
volatile sig_atomic_t terminalSaved = 0;

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

void onInterrupt(int signal) {
    if (firstInterrupt == 0) {
        firstInterrupt = signal;
        return;
    }
    if (terminalSaved) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::_exit(128 + signal);
}

// A signal that lands just before read() starts would not interrupt it, so the wait is a
// poll that looks at the interrupt flag every tenth of a second.
constexpr int kInterruptCheckMs = 100;

bool readLineFromDescriptor(int fd, std::string& line) {
    line.clear();
    char c = 0;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, kInterruptCheckMs);
        if (firstInterrupt != 0) return false;
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        const ssize_t got = ::read(fd, &c, 1);
        if (firstInterrupt != 0) return false;
        if (got <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
}

}  // namespace

bool isTerminal(ConsoleStream stream) { return ::isatty(descriptorOf(stream)) == 1; }

// A pipe whose reader has gone polls as an error; a socket whose peer has gone, as hung up.
bool outputReaderGone(ConsoleStream stream) {
    const int fd = descriptorOf(stream);
    struct stat info {};
    if (fstat(fd, &info) != 0 || (!S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode))) return false;
    pollfd output{fd, POLLOUT, 0};
    return poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP)) != 0;
}

bool readSecretLine(const char* prompt, std::string& line) {
    if (!isTerminal(ConsoleStream::kInput)) return false;
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off (dropping earlier type-ahead) before the prompt shows, so nothing typed
    // after the prompt is either echoed or discarded.
    savedTerminal = saved;
    terminalSaved = 1;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
        terminalSaved = 0;
        return false;
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    const bool read = readLineFromDescriptor(STDIN_FILENO, line);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    terminalSaved = 0;
    if (firstInterrupt != 0) std::fputs("\n", stderr);
    return read;
}

bool enableTerminalControls(ConsoleStream stream) {
    const char* term = std::getenv("TERM");
    if (term && std::strcmp(term, "dumb") == 0) return false;
    return isTerminal(stream);
}

namespace {

// What a terminal that does not say its width is taken to have.
constexpr int kDefaultColumns = 80;

winsize sizeOf(ConsoleStream stream) {
    winsize size{};
    if (::ioctl(descriptorOf(stream), TIOCGWINSZ, &size) != 0) size = {};
    return size;
}

}  // namespace

int terminalColumns(ConsoleStream stream) {
    const winsize size = sizeOf(stream);
    return size.ws_col > 0 ? size.ws_col : kDefaultColumns;
}

int terminalRows(ConsoleStream stream) {
    const winsize size = sizeOf(stream);
    return size.ws_row > 0 ? size.ws_row : 24;
}

// No SA_RESTART: a read waiting at a prompt returns, so the prompt can end.
void installInterruptHandling() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : kInterrupts) ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int interruptSignal() { return firstInterrupt; }

InterruptsHeldOff::InterruptsHeldOff() {
    static_assert(sizeof(sigset_t) <= sizeof saved_, "room for a signal set");
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kInterrupts) sigaddset(&held, signal);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    std::memcpy(saved_, &previous, sizeof previous);
}

InterruptsHeldOff::~InterruptsHeldOff() {
    sigset_t previous;
    std::memcpy(&previous, saved_, sizeof previous);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace platform
