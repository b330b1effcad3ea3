// Whole files read as raw bytes, for the loaders that accept outside files; output files opened
// without waiting, for the command line's logs and reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Replaces bytes with the contents of the regular file at path. False (bytes empty) when it is
// missing, not a regular file, unreadable or larger than 4 GiB; reason (when given) then holds
// why, in the OS's words where it gave some ("No such file or directory"). A FIFO or device is
// refused before it is opened, so naming one never blocks.
bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string* reason = nullptr);

// A file named on the command line (or in a file it names), as the OS opens it: its bytes on
// POSIX, its UTF-8 characters on Windows (where main's arguments are read as UTF-8), byte for
// byte where they are not UTF-8. Never throws, whatever the bytes; std::filesystem::path's own
// conversions may.
std::filesystem::path argumentPath(const std::string& text);

// What an output file may be.
enum class OutputFile {
    // A document that is read back later (upgrade --report): a regular file only.
    kDocument,
    // Lines as they come (--log): also a character device (/dev/null, a terminal) or a FIFO
    // that a program reads.
    kStream,
};

// Opens path for writing, creating a missing file: appending, or replacing what it held.
// Never waits: a FIFO that no program reads is refused at once ("a FIFO that no program
// reads"), as are folders ("is a directory"), block devices and sockets ("not a regular file"),
// and for a document anything but a regular file. Null, with the reason, when it cannot be
// opened.
std::FILE* openOutputFile(const std::filesystem::path& path, OutputFile kind, bool replace,
                          std::string* reason = nullptr);

// True when path names the regular file or FIFO that standard output writes to, so that what
// is written to it would mix with the program's output (never for terminals and devices).
bool isStandardOutput(const std::filesystem::path& path);

}  // namespace platform
