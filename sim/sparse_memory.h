// A 32-bit address space that remembers which bytes were written, for the unit's application
// memory and its web-content flash.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

class SparseMemory {
public:
    static constexpr uint32_t kPageSize = 256;

    SparseMemory() = default;
    // A copy must not keep pointing into the original's pages.
    SparseMemory(const SparseMemory& other) : pages_(other.pages_) {}
    SparseMemory& operator=(const SparseMemory& other) {
        pages_ = other.pages_;
        lastPage_ = nullptr;
        return *this;
    }
    SparseMemory(SparseMemory&& other) noexcept : pages_(std::move(other.pages_)) { other.lastPage_ = nullptr; }
    SparseMemory& operator=(SparseMemory&& other) noexcept {
        pages_ = std::move(other.pages_);
        lastPage_ = nullptr;
        other.lastPage_ = nullptr;
        return *this;
    }

    // Writes one byte; returns false when the byte had been written before with another value.
    bool write(uint32_t address, uint8_t value);
    bool read(uint32_t address, uint8_t& value) const;
    void clear() {
        pages_.clear();
        lastPage_ = nullptr;
    }

    size_t bytesWritten() const;
    bool empty() const { return pages_.empty(); }
    uint32_t lowestAddress() const;
    uint32_t highestAddress() const;
    // Calls `visit` for every written byte in address order.
    void forEach(const std::function<void(uint32_t, uint8_t)>& visit) const;

private:
    struct Page {
        std::array<uint8_t, kPageSize> data{};
        std::bitset<kPageSize> written;
    };
    Page& pageFor(uint32_t address);

    std::map<uint32_t, Page> pages_;
    // Writes come in runs; remembering the last page spares a tree lookup per byte.
    Page* lastPage_ = nullptr;
    uint32_t lastPageIndex_ = 0;
};
