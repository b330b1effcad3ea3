// The web-content flash image: opaque bytes handed out in address-tagged chunks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

// The image bytes: borrowed in place from the program's content, or owned after a file load.
class BinFile {
public:
    BinFile() = default;
    virtual ~BinFile() = default;
    BinFile(const BinFile&) = delete;
    BinFile& operator=(const BinFile&) = delete;

    // Empties the image; frees only bytes this object allocated.
    virtual void release();
    // Reads a whole file as raw bytes; 0 (image empty) when it cannot be read.
    virtual int loadFromFile(const std::filesystem::path& path);
    // Takes the item of type "BIN" in place; 0 (image empty) when it is missing.
    virtual int loadFromResource(const wchar_t* name);
    // Borrows bytes that outlive this object (one read of a file shared by several readers);
    // 0 (image empty) for more than 4 GiB.
    int loadFromBytes(const uint8_t* data, size_t size);

    uint32_t imageSize() const { return imageSize_; }
    bool fromResource() const { return fromResource_; }

protected:
    const uint8_t* data_ = nullptr;

private:
    uint32_t imageSize_ = 0;
    bool fromResource_ = false;
    std::vector<uint8_t> owned_;
};

// Loaded on the main thread at start-up; afterwards one update thread at a time reads it.
class CBinManager : public BinFile {
public:
    explicit CBinManager(uint32_t origin) : imageOrigin_(origin), currentAddress_(origin) {}
    ~CBinManager() override { release(); }

    // Empties the image and rewinds.
    void release() override;
    int loadFromFile(const std::filesystem::path& path) override;
    int loadFromResource(const wchar_t* name) override;

    // Hands out the image from its first byte again. Always true.
    bool rewind();
    // Copies up to maxLength bytes at the read position into destination and stores their
    // address in address. 0, with address untouched, when the image is exhausted or empty.
    uint16_t readChunk(uint8_t* destination, uint16_t maxLength, uint32_t& address);

    uint32_t imageOrigin() const { return imageOrigin_; }
    uint32_t bytesConsumed() const { return bytesConsumed_; }

private:
    uint32_t imageOrigin_;
    uint32_t currentAddress_;
    uint32_t bytesConsumed_ = 0;
};
