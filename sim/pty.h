// A pseudo-terminal pair standing in for the unit's RS-232 port: the simulator keeps the
// master, the updater opens slavePath().
#pragma once

#include <cstddef>
#include <string>

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal();

    // Opens the pair in raw mode. When `linkPath` is not empty, also makes it a symbolic link
    // to the slave (replacing an older link there).
    bool open(const std::string& linkPath, std::string& error);
    int fd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Bytes read, or -1 when nothing is waiting.
    long read(unsigned char* buffer, size_t capacity);
    // Bytes written; a full buffer (nobody reading) drops the rest.
    long write(const unsigned char* bytes, size_t count);

private:
    int master_ = -1;
    // Held open so the master never sees a hang-up while no updater has the port open.
    int slaveKeeper_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};
