// The images an update sends: the embedded ones, or outside files checked before use.
#pragma once

#include <string>
#include <vector>

#include "content/bin_manager.h"
#include "content/hex_check.h"
#include "content/hex_manager.h"

struct ImageChoice {
    std::string hexFile;     // empty: the embedded application image
    std::string flashFile;   // empty: the embedded flash image
};

// Reads and checks the application image (file or embedded). False, with "FILE:LINE: reason"
// in error, when the file cannot be read or fails a check.
bool checkApplicationImage(const ImageChoice& choice, HexCheckResult& result, std::string& error);
// Reads the flash image's size (file or embedded); false when unreadable or empty.
bool checkFlashImageSource(const ImageChoice& choice, size_t& size, std::string& error);

// One unit's own readers: their cursors move during a run, so units never share them.
bool loadApplicationCopy(const ImageChoice& choice, CHexManager& image);
bool loadFlashCopy(const ImageChoice& choice, CBinManager& image);
