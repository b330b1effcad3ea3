// A pseudo-terminal pair standing in for the unit's RS-232 port: the simulator keeps the
// master, the updater opens slavePath().
#pragma once

#include <cstddef>
#include <string>

#include "sim/unique_fd.h"

class PseudoTerminal {
public:
    // Removes the link; the descriptors close with their owners.
    ~PseudoTerminal();

    // Opens the pair in raw mode. When `linkPath` is not empty, also makes it a symbolic link
    // to the slave (replacing an older link there).
    bool open(const std::string& linkPath, std::string& error);
    int fd() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }
    // Bytes read, or -1 when nothing is waiting.
    long read(unsigned char* buffer, size_t capacity);
    // Bytes written; a full buffer (nobody reading) drops the rest.
    long write(const unsigned char* bytes, size_t count);

private:
    UniqueFd master_;
    // Held open so the master never sees a hang-up while no updater has the port open.
    UniqueFd slaveKeeper_;
    std::string slavePath_;
    std::string linkPath_;
};
