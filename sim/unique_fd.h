// One owned file descriptor, closed once when its owner goes: the simulator's sockets and
// pseudo-terminal hold theirs in it.
#pragma once

#include <utility>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the held descriptor, if any, and holds `fd` (-1: none).
    void reset(int fd = -1);

private:
    int fd_ = -1;
};
