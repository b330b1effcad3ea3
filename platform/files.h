// Whole files read as raw bytes, for the loaders that accept outside files; files named by
// UTF-8 texts (the command line's), which Windows would read in its ANSI code page.
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

// The path a UTF-8 name stands for.
std::filesystem::path pathFromUtf8(std::string_view utf8);

// std::fopen of a UTF-8 name.
std::FILE* openFile(const std::string& utf8Path, const char* mode);

}  // namespace platform
