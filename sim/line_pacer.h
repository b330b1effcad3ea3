// Holds bytes back until a serial line at the given rate would have carried them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class LinePacer {
public:
    // 0 bits a second: no pacing, every byte is due at once.
    explicit LinePacer(uint32_t bitsPerSecond = 0, uint32_t bitsPerByte = 10);

    void push(const uint8_t* bytes, size_t count, uint64_t nowUs);
    // Removes and returns the bytes whose time has come.
    std::vector<uint8_t> takeDue(uint64_t nowUs);
    bool empty() const { return queue_.empty(); }
    // When the first held byte is due; meaningful only when not empty.
    uint64_t nextDueUs() const { return queue_.front().dueUs; }

private:
    struct TimedByte {
        uint64_t dueUs;
        uint8_t value;
    };
    double byteTimeUs_;
    double lineFreeUs_ = 0;  // when the line has finished the last queued byte
    std::deque<TimedByte> queue_;
};
