// Paged sparse memory.
#include "sim/sparse_memory.h"

SparseMemory::Page& SparseMemory::pageFor(uint32_t address) {
    const uint32_t index = address / kPageSize;
    if (!lastPage_ || lastPageIndex_ != index) {
        lastPage_ = &pages_[index];
        lastPageIndex_ = index;
    }
    return *lastPage_;
}

bool SparseMemory::write(uint32_t address, uint8_t value) {
    Page& page = pageFor(address);
    uint32_t offset = address % kPageSize;
    bool conflict = page.written[offset] && page.data[offset] != value;
    page.data[offset] = value;
    page.written[offset] = true;
    return !conflict;
}

bool SparseMemory::read(uint32_t address, uint8_t& value) const {
    auto it = pages_.find(address / kPageSize);
    if (it == pages_.end() || !it->second.written[address % kPageSize]) return false;
    value = it->second.data[address % kPageSize];
    return true;
}

size_t SparseMemory::bytesWritten() const {
    size_t total = 0;
    for (const auto& [index, page] : pages_) total += page.written.count();
    return total;
}

uint32_t SparseMemory::lowestAddress() const {
    if (pages_.empty()) return 0;
    const auto& [index, page] = *pages_.begin();
    uint32_t offset = 0;
    while (!page.written[offset]) ++offset;
    return index * kPageSize + offset;
}

uint32_t SparseMemory::highestAddress() const {
    if (pages_.empty()) return 0;
    const auto& [index, page] = *pages_.rbegin();
    uint32_t offset = kPageSize - 1;
    while (!page.written[offset]) --offset;
    return index * kPageSize + offset;
}

void SparseMemory::forEach(const std::function<void(uint32_t, uint8_t)>& visit) const {
    for (const auto& [index, page] : pages_) {
        for (uint32_t offset = 0; offset < kPageSize; ++offset) {
            if (page.written[offset]) visit(index * kPageSize + offset, page.data[offset]);
        }
    }
}
