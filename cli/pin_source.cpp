#include "cli/pin_source.h"

#include <cstdlib>

#include "commandport/command_port.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

std::string firstLine(const std::vector<uint8_t>& bytes) {
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\r' || b == '\n') break;
        line += static_cast<char>(b);
    }
    return line;
}

bool takePin(const std::string& candidate, const char* source, std::string& pin, std::string& error) {
    if (!isValidPin(platform::widenBytes(candidate).c_str())) {
        error = std::string("the PIN from ") + source + " is not exactly four digits";
        return false;
    }
    pin = candidate;
    return true;
}

}  // namespace

bool readInstallerPin(const std::string& pinFile, std::string& pin, std::string& error) {
    if (!pinFile.empty()) {
        std::vector<uint8_t> bytes;
        std::string reason;
        if (!platform::readWholeFile(platform::pathFromUtf8(pinFile), bytes, &reason)) {
            error = pinFile + ": cannot be read: " + reason;
            return false;
        }
        return takePin(firstLine(bytes), "--pin-file", pin, error);
    }
    if (const char* fromEnvironment = std::getenv("ZT_PIN")) return takePin(fromEnvironment, "ZT_PIN", pin, error);
    std::string typed;
    if (!platform::readSecretLine("Installer PIN: ", typed)) {
        error = "no PIN: use --pin-file FILE or ZT_PIN, or run on a terminal to be asked";
        return false;
    }
    return takePin(typed, "the prompt", pin, error);
}
