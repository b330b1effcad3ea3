// Loading of the flash image and its chunked reading.
#include "content/bin_manager.h"

#include <cstring>
#include <limits>

#include "platform/files.h"
#include "platform/resources.h"

void BinFile::release() {
    imageSize_ = 0;
    data_ = nullptr;
    std::vector<uint8_t>().swap(owned_);
}

int BinFile::loadFromFile(const std::filesystem::path& path) {
    release();
    fromResource_ = false;
    if (!platform::readWholeFile(path, owned_)) return 0;
    data_ = owned_.data();
    imageSize_ = static_cast<uint32_t>(owned_.size());
    return 1;
}

// The content stays mapped for the life of the process, so the bytes are used in place.
int BinFile::loadFromResource(const wchar_t* name) {
    release();
    platform::ResourceBytes bytes;
    if (!platform::findResource(name, L"BIN", bytes)) return 0;
    if (bytes.size > std::numeric_limits<uint32_t>::max()) return 0;
    fromResource_ = true;
    data_ = bytes.data;
    imageSize_ = static_cast<uint32_t>(bytes.size);
    return 1;
}

int BinFile::loadFromBytes(const uint8_t* data, size_t size) {
    release();
    fromResource_ = false;
    if (size > std::numeric_limits<uint32_t>::max()) return 0;
    data_ = data;
    imageSize_ = static_cast<uint32_t>(size);
    return 1;
}

void CBinManager::release() {
    BinFile::release();
    rewind();
}

int CBinManager::loadFromFile(const std::filesystem::path& path) { return BinFile::loadFromFile(path); }

int CBinManager::loadFromResource(const wchar_t* name) { return BinFile::loadFromResource(name); }

bool CBinManager::rewind() {
    bytesConsumed_ = 0;
    currentAddress_ = imageOrigin_;
    return true;
}

uint16_t CBinManager::readChunk(uint8_t* destination, uint16_t maxLength, uint32_t& address) {
    uint32_t offset = currentAddress_ - imageOrigin_;
    if (offset >= imageSize()) return 0;
    uint32_t left = imageSize() - offset;
    uint16_t length = left < maxLength ? static_cast<uint16_t>(left) : maxLength;
    address = currentAddress_;
    std::memcpy(destination, data_ + offset, length);
    currentAddress_ += length;
    bytesConsumed_ = currentAddress_ - imageOrigin_;
    return length;
}
