// The terminal the command-line tool talks through: is a stream a terminal, reading a secret
// without echo, cursor control for redrawn progress lines, and interrupts.
#pragma once

#include <string>

namespace platform {

enum class ConsoleStream { kInput, kOutput, kError };

// True when the stream is an interactive terminal (not a file or a pipe).
bool isTerminal(ConsoleStream stream);

// True when the stream is a pipe or socket whose reading end has been closed: what is written
// there is no longer wanted (`ztupdate ... | head -1`), so a failed write is no fault.
bool outputReaderGone(ConsoleStream stream);

// Shows `prompt` on standard error and reads one line from the terminal with echo turned off,
// without its line end. False when standard input is not a terminal, the read fails or an
// interrupt arrives; the terminal's settings are restored on every way out, a second
// interrupt's immediate exit included.
bool readSecretLine(const char* prompt, std::string& line);

// Lets the stream take ANSI cursor and erase sequences (on for POSIX terminals but TERM=dumb;
// Windows consoles need it switched on). False when the terminal cannot.
bool enableTerminalControls(ConsoleStream stream = ConsoleStream::kOutput);

// Columns of the terminal on the stream; 80 when unknown.
int terminalColumns(ConsoleStream stream = ConsoleStream::kOutput);
// Rows of the terminal on the stream; 24 when unknown.
int terminalRows(ConsoleStream stream = ConsoleStream::kOutput);

// From here on Ctrl-C, SIGTERM and SIGHUP (console control events on Windows) are recorded
// instead of ending the process, and a second one ends it at once with 128 + its number.
// SIGPIPE is ignored, so a closed standard output makes writes fail rather than the process.
void installInterruptHandling();
// The first interrupt's signal number (SIGINT 2, SIGTERM 15, SIGHUP 1; 2 for any Windows
// console event), 0 while there has been none.
int interruptSignal();

// While one lives, the calling thread does not take interrupts, nor do threads it starts, so
// they reach the main thread and never break a worker's blocking call.
class InterruptsHeldOff {
public:
    InterruptsHeldOff();
    ~InterruptsHeldOff();
    InterruptsHeldOff(const InterruptsHeldOff&) = delete;
    InterruptsHeldOff& operator=(const InterruptsHeldOff&) = delete;

private:
    unsigned char saved_[128];
};

}  // namespace platform
