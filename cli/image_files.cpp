// Checking and loading the update's images.
#include "cli/image_files.h"

#include <cstdint>

#include "platform/files.h"
#include "platform/resources.h"

namespace {

constexpr const wchar_t* kApplicationName = L"P32_APPLICATION";
constexpr const wchar_t* kFlashName = L"P32_FLASH";

std::string located(const std::string& file, uint32_t line, const char* reason) {
    return line ? file + ":" + std::to_string(line) + ": " + reason : file + ": " + reason;
}

}  // namespace

bool checkApplicationImage(const ImageChoice& choice, HexCheckResult& result, std::string& error) {
    if (choice.hexFile.empty()) {
        platform::ResourceBytes embedded;
        if (!platform::findResource(kApplicationName, L"HEX", embedded)) {
            error = "this build carries no application image";
            return false;
        }
        if (checkHexText(embedded.data, embedded.size, result)) return true;
        error = located("embedded application image", result.line, hexProblemText(result.problem));
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!platform::readWholeFile(choice.hexFile, bytes)) {
        error = choice.hexFile + ": cannot be read";
        return false;
    }
    if (checkHexText(bytes.data(), bytes.size(), result)) return true;
    error = located(choice.hexFile, result.line, hexProblemText(result.problem));
    return false;
}

bool checkFlashImageSource(const ImageChoice& choice, size_t& size, std::string& error) {
    HexCheckResult result;
    const std::string name = choice.flashFile.empty() ? "embedded flash image" : choice.flashFile;
    if (choice.flashFile.empty()) {
        platform::ResourceBytes embedded;
        size = platform::findResource(kFlashName, L"BIN", embedded) ? embedded.size : 0;
    } else {
        std::vector<uint8_t> bytes;
        if (!platform::readWholeFile(choice.flashFile, bytes)) {
            error = choice.flashFile + ": cannot be read";
            return false;
        }
        size = bytes.size();
    }
    if (checkFlashImage(size, result)) return true;
    error = located(name, 0, hexProblemText(result.problem));
    return false;
}

bool loadApplicationCopy(const ImageChoice& choice, CHexManager& image) {
    if (choice.hexFile.empty()) return image.loadApplication(kApplicationName) == 1;
    return image.loadFromFile(choice.hexFile) == 1;
}

bool loadFlashCopy(const ImageChoice& choice, CBinManager& image) {
    if (choice.flashFile.empty()) return image.loadFromResource(kFlashName) == 1;
    return image.loadFromFile(choice.flashFile) == 1;
}
