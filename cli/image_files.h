// The images an update sends: the embedded ones, or outside files. Each is read once and
// checked; every unit's reader is then made from those same bytes, so a file changed after the
// check (or after the confirmation prompt) never reaches a unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "content/bin_manager.h"
#include "content/hex_check.h"
#include "content/hex_manager.h"

struct ImageChoice {
    std::string hexFile;    // empty: the embedded application image
    std::string flashFile;  // empty: the embedded flash image
};

// One image's bytes: a file's, owned, or the embedded item's, borrowed for the process's life.
class ImageBytes {
public:
    ImageBytes() = default;
    ImageBytes(const ImageBytes&) = delete;
    ImageBytes& operator=(const ImageBytes&) = delete;

    const uint8_t* data() const { return borrowed_ ? borrowed_ : owned_.data(); }
    size_t size() const { return borrowed_ ? borrowedSize_ : owned_.size(); }
    // The name reports use: the file as typed (escaped for a terminal), or "embedded application image".
    const std::string& name() const { return name_; }

    // False, with "NAME: cannot be read: REASON" in error.
    bool readFile(const std::string& path, std::string& error);
    // False when this build carries no item of that name.
    bool borrowEmbedded(const wchar_t* item, const wchar_t* type, const std::string& name);

private:
    std::string name_;
    std::vector<uint8_t> owned_;
    const uint8_t* borrowed_ = nullptr;
    size_t borrowedSize_ = 0;
};

// Reads and checks the application image (file or embedded). False, with "NAME:LINE: reason"
// in error, when it cannot be read or fails a check (no data records included).
bool readApplicationImage(const ImageChoice& choice, ImageBytes& image, HexCheckResult& result, std::string& error);
// Reads and checks the flash image (file or embedded): not empty, within the chunk addresses
// from kFlashImageOrigin, not Intel HEX text.
bool readFlashImage(const ImageChoice& choice, ImageBytes& image, std::string& error);

// One unit's own readers over checked bytes: their cursors move during a run, so units never
// share them. The flash reader borrows the bytes, which must outlive it.
bool loadApplicationCopy(const ImageBytes& bytes, CHexManager& image);
bool loadFlashCopy(const ImageBytes& bytes, CBinManager& image);
