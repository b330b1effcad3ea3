// SHA-256 of byte streams: the digests of what a run carried and of what a simulated unit stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t length);
    // Finishes the digest; the object must not be updated afterwards.
    std::array<uint8_t, 32> finish();
    std::string finishHex();

private:
    void compressBlock(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> block_{};
    size_t blockUsed_ = 0;
    uint64_t totalBytes_ = 0;
};

std::string sha256Hex(const uint8_t* data, size_t length);
