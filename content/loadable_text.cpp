// The shared line walker: one wide character per byte, whole runs of CR and LF skipped.
#include "content/loadable_text.h"

#include <cstdint>
#include <vector>

#include "platform/files.h"
#include "platform/resources.h"

namespace {

inline bool isLineEnd(unsigned char byte) { return byte == '\n' || byte == '\r'; }

}  // namespace

int LoadableText::reset() { return 1; }

int LoadableText::loadFromBytes(const unsigned char* data, size_t size) { return walkLines(data, size, false); }

int LoadableText::loadFromFileBytes(const unsigned char* data, size_t size) { return walkLines(data, size, true); }

int LoadableText::loadFromResource(const wchar_t* name, const wchar_t* type) {
    platform::ResourceBytes bytes;
    if (!platform::findResource(name, type, bytes)) {
        reset();
        return 0;
    }
    return loadFromBytes(bytes.data, bytes.size);
}

int LoadableText::loadFromFile(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    if (!platform::readWholeFile(path, bytes)) {
        reset();
        return 0;
    }
    return loadFromFileBytes(bytes.data(), bytes.size());
}

// A failed load ends with reset, so a holder that clears there is never left half loaded.
int LoadableText::walkLines(const unsigned char* data, size_t size, bool unterminatedLastLine) {
    if (!reset()) return 0;
    expectTextBytes(size);
    size_t position = 0;
    while (position < size) {
        size_t lineStart = position;
        while (position < size && !isLineEnd(data[position])) ++position;
        bool ended = position < size;
        if (!ended && (!unterminatedLastLine || position == lineStart)) break;
        size_t length = position - lineStart;
        if (length >= kLineChars) {
            reset();
            return 0;
        }
        for (size_t i = 0; i < length; ++i) lineBuffer[i] = static_cast<wchar_t>(data[lineStart + i]);
        lineBuffer[length] = L'\0';
        while (position < size && isLineEnd(data[position])) ++position;
        if (!parseLine(lineBuffer)) {
            reset();
            return 0;
        }
    }
    return 1;
}
