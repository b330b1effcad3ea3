// Whole files read as raw bytes, for the loaders that accept outside files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// Replaces bytes with the contents of the regular file at path. False (bytes empty) when it is
// missing, not a regular file, unreadable or larger than 4 GiB; reason (when given) then holds
// why, in the OS's words where it gave some ("No such file or directory"). A FIFO or device is
// refused before it is opened, so naming one never blocks.
bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string* reason = nullptr);

}  // namespace platform
