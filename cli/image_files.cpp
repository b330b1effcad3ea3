// Reading, checking and sharing the update's images.
#include "cli/image_files.h"

#include "cli/target_text.h"
#include "content/content_globals.h"
#include "platform/files.h"
#include "platform/resources.h"

namespace {

std::string located(const std::string& file, uint32_t line, const char* reason) {
    return line ? file + ":" + std::to_string(line) + ": " + reason : file + ": " + reason;
}

// The file given, else the build's embedded item; `what` names the image in messages.
bool readImageBytes(const std::string& file, const wchar_t* item, const wchar_t* type, const std::string& what,
                    ImageBytes& image, std::string& error) {
    if (!file.empty()) return image.readFile(file, error);
    if (image.borrowEmbedded(item, type, "embedded " + what)) return true;
    error = "this build carries no " + what;
    return false;
}

}  // namespace

bool ImageBytes::readFile(const std::string& path, std::string& error) {
    name_ = shownText(path, kShownWhole);
    borrowed_ = nullptr;
    std::string reason;
    if (platform::readWholeFile(platform::argumentPath(path), owned_, &reason)) return true;
    error = name_ + ": cannot be read: " + reason;
    return false;
}

bool ImageBytes::borrowEmbedded(const wchar_t* item, const wchar_t* type, const std::string& name) {
    name_ = name;
    owned_.clear();
    platform::ResourceBytes embedded;
    if (!platform::findResource(item, type, embedded)) return false;
    borrowed_ = embedded.data;
    borrowedSize_ = embedded.size;
    return true;
}

bool readApplicationImage(const ImageChoice& choice, ImageBytes& image, HexCheckResult& result, std::string& error) {
    if (!readImageBytes(choice.hexFile, kApplicationResource, L"HEX", "application image", image, error)) return false;
    if (checkHexText(image.data(), image.size(), result)) return true;
    error = located(image.name(), result.line, hexProblemText(result.problem));
    return false;
}

bool readFlashImage(const ImageChoice& choice, ImageBytes& image, std::string& error) {
    if (!readImageBytes(choice.flashFile, kFlashResource, L"BIN", "flash image", image, error)) return false;
    HexCheckResult result;
    if (checkFlashImage(image.data(), image.size(), kFlashImageOrigin, result)) return true;
    error = located(image.name(), 0, hexProblemText(result.problem));
    return false;
}

bool loadApplicationCopy(const ImageBytes& bytes, CHexManager& image) {
    return image.loadFromFileBytes(bytes.data(), bytes.size()) == 1;
}

bool loadFlashCopy(const ImageBytes& bytes, CBinManager& image) {
    return image.loadFromBytes(bytes.data(), bytes.size()) == 1;
}
