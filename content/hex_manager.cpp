// Hex-digit decoding by table and the record arena.
#include "content/hex_manager.h"

#include <array>
#include <cstring>

#include "platform/resources.h"

namespace {

constexpr int8_t kNotHex = -1;

constexpr std::array<int8_t, 128> makeHexTable() {
    std::array<int8_t, 128> table{};
    for (auto& entry : table) entry = kNotHex;
    for (int i = 0; i <= '9' - '0'; ++i) table['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i <= 'f' - 'a'; ++i) {
        table['a' + i] = static_cast<int8_t>(10 + i);
        table['A' + i] = static_cast<int8_t>(10 + i);
    }
    return table;
}

constexpr std::array<int8_t, 128> kHexValue = makeHexTable();

// clang-tidy 14 takes the wide character for a signed char here.
inline int hexValue(wchar_t c) {
    const auto code = static_cast<uint32_t>(c);  // NOLINT(bugprone-signed-char-misuse)
    return code < kHexValue.size() ? kHexValue[code] : kNotHex;
}

// Grows by a quarter rather than doubling, so the image costs little more than its bytes.
void makeRoom(std::vector<uint8_t>& arena, size_t extra) {
    size_t needed = arena.size() + extra;
    if (needed <= arena.capacity()) return;
    constexpr size_t kMinimumStep = 4096;
    size_t step = arena.capacity() / 4 > kMinimumStep ? arena.capacity() / 4 : kMinimumStep;
    arena.reserve(needed > arena.capacity() + step ? needed : arena.capacity() + step);
}

}  // namespace

int CHexManager::loadApplication(const wchar_t* name) {
    platform::ResourceBytes bytes;
    if (!platform::findResource(name, L"HEX", bytes)) {
        reset();
        return 0;
    }
    return loadFromFileBytes(bytes.data, bytes.size);
}

int CHexManager::reset() {
    std::vector<uint8_t>().swap(arena_);
    cursor_ = kNotRewound;
    recordCount_ = 0;
    recordsHandedOut_ = 0;
    recordBytes_ = 0;
    return 1;
}

// A line of L characters and its line end stores at most (L + 1) / 2 bytes with its length
// byte, so half the text (and one for an unterminated file line) always suffices.
void CHexManager::expectTextBytes(size_t textBytes) { arena_.reserve(textBytes / 2 + 1); }

int CHexManager::parseLine(const wchar_t* line) {
    if (line[0] == L'\0') return 1;
    uint8_t bytes[kMaxRecordBytes];
    uint16_t length = 0;
    for (const wchar_t* pair = line + 1; pair[0] != L'\0' && pair[1] != L'\0'; pair += 2) {
        int high = hexValue(pair[0]);
        int low = hexValue(pair[1]);
        if (high == kNotHex || low == kNotHex || length == kMaxRecordBytes) return 0;
        bytes[length++] = static_cast<uint8_t>(high << 4 | low);
    }
    if (length > 0) appendRecord(bytes, length);
    return 1;
}

void CHexManager::appendRecord(const uint8_t* bytes, uint16_t length) {
    makeRoom(arena_, 1u + length);
    arena_.push_back(static_cast<uint8_t>(length - 1));
    arena_.insert(arena_.end(), bytes, bytes + length);
    ++recordCount_;
    recordBytes_ += length;
}

int CHexManager::rewind() {
    cursor_ = 0;
    recordsHandedOut_ = 0;
    return 1;
}

uint16_t CHexManager::nextRecord(uint8_t* destination, uint16_t capacity) {
    if (cursor_ == kNotRewound || cursor_ >= arena_.size()) return 0;
    uint16_t length = static_cast<uint16_t>(arena_[cursor_] + 1);
    if (length > capacity) return 0;
    std::memcpy(destination, arena_.data() + cursor_ + 1, length);
    cursor_ += 1u + length;
    ++recordsHandedOut_;
    return length;
}
