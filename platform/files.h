// Whole files read as raw bytes, for the loaders that accept outside files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace platform {

// Replaces bytes with the contents of the regular file at path. False (bytes empty) when it is
// missing, not a regular file, unreadable or larger than 4 GiB.
bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes);

}  // namespace platform
