// The terminal the command-line tool talks through: is a stream a terminal, reading a secret
// without echo, and cursor control for redrawn progress lines.
#pragma once

#include <string>

namespace platform {

enum class ConsoleStream { kInput, kOutput, kError };

// True when the stream is an interactive terminal (not a file or a pipe).
bool isTerminal(ConsoleStream stream);

// Shows `prompt` on standard error and reads one line from the terminal with echo turned off,
// without its line end. False when standard input is not a terminal or the read fails.
bool readSecretLine(const char* prompt, std::string& line);

// Lets standard output take ANSI cursor and erase sequences (on for POSIX terminals; Windows
// consoles need it switched on). False when the terminal cannot.
bool enableTerminalControls();

// Columns of the terminal on standard output; 80 when unknown.
int terminalColumns();

}  // namespace platform
