#include "cli/pin_source.h"

#include <cstdio>
#include <cstdlib>

#include "cli/target_text.h"
#include "commandport/command_port.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/ui_strings.h"

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

// A PIN mistyped at the prompt is asked for again: the typist cannot see what went wrong.
bool promptForPin(std::string& pin, std::string& error) {
    constexpr int kPromptAttempts = 3;
    for (int attempt = 1; attempt <= kPromptAttempts; ++attempt) {
        std::string typed;
        if (!platform::readSecretLine("Installer PIN: ", typed)) {
            error = "no PIN: use --pin-file FILE or ZT_PIN, or run on a terminal to be asked";
            return false;
        }
        if (takePin(typed, "the prompt", pin, error)) return true;
        if (platform::interruptSignal() != 0) return false;
        if (attempt < kPromptAttempts) std::fprintf(stderr, "The PIN is four digits; try again.\n");
    }
    return false;
}

}  // namespace

std::string refusedPinText() {
    return platform::toUtf8(uiString(kUnableToEnterBootloadMode)) +
           " The unit refused the Installer PIN or broke off the unlock: check the PIN before trying again, as units "
           "may lock after wrong PINs.";
}

bool readInstallerPin(const std::string& pinFile, std::string& pin, std::string& error) {
    if (!pinFile.empty()) {
        std::vector<uint8_t> bytes;
        std::string reason;
        if (!platform::readWholeFile(platform::argumentPath(pinFile), bytes, &reason)) {
            error = shownText(pinFile, kShownWhole) + ": cannot be read: " + reason;
            return false;
        }
        return takePin(firstLine(bytes), "--pin-file", pin, error);
    }
    if (const char* fromEnvironment = std::getenv("ZT_PIN")) return takePin(fromEnvironment, "ZT_PIN", pin, error);
    return promptForPin(pin, error);
}
