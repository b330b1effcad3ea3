// Line-oriented loading of embedded texts and files: the base of the property stores and the
// Intel HEX image.
#pragma once

#include <cstddef>
#include <filesystem>

class LoadableText {
public:
    // Longest line a load accepts, without its line end; a longer one aborts the load.
    static constexpr size_t kLineChars = 1024;

    LoadableText() = default;
    virtual ~LoadableText() = default;
    LoadableText(const LoadableText&) = delete;
    LoadableText& operator=(const LoadableText&) = delete;

    // Consumes one line (no line end, NUL-terminated); 0 aborts the load.
    virtual int parseLine(const wchar_t* line) = 0;
    // Prepares for a new load, and discards what a failed load had parsed; 0 stops the load.
    virtual int reset();
    // A text file: every line counts, the last one even without a line end.
    virtual int loadFromFile(const std::filesystem::path& path);
    // An item of the program's own content; 0 when it is missing or a line aborts the load.
    virtual int loadFromResource(const wchar_t* name, const wchar_t* type);

    // The load of a resource's bytes: lines end at CR or LF, runs of line ends make no empty
    // lines, and bytes after the last line end are not parsed. 1 = loaded.
    int loadFromBytes(const unsigned char* data, size_t size);
    // The load of a file's bytes: as loadFromBytes, but the last line counts without a line end.
    int loadFromFileBytes(const unsigned char* data, size_t size);

protected:
    // Told the size of the text before its lines arrive, so a holder can size its storage once.
    virtual void expectTextBytes(size_t) {}

    wchar_t lineBuffer[kLineChars] = {};

private:
    int walkLines(const unsigned char* data, size_t size, bool unterminatedLastLine);
};
