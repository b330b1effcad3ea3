// An advisory lock that one process holds on a name (a unit it is updating) for as long as the
// object lives; the OS lets it go when the process ends, however it ends.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class ProcessLock {
public:
    ProcessLock() = default;
    ~ProcessLock() { release(); }
    ProcessLock(ProcessLock&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    ProcessLock& operator=(ProcessLock&&) = delete;
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

    // True when this process now holds the lock called `name` (letters, digits, dots and dashes),
    // or when no lock can be made here at all (nothing to protect against then). False when
    // another process holds it; holderPid is then that process's id, 0 when it is not known.
    bool acquire(const std::string& name, uint32_t& holderPid);
    void release();

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
};

}  // namespace platform
