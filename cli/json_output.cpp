// Printing the document that --json promises: one, on standard output, flushed at once.
#include "cli/json_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/exit_status.h"
#include "platform/console.h"

namespace {
// Why a flush of standard output failed, kept for the check at the end: errno is long gone by then.
std::string firstOutputError;

void noteOutputError() {
    if (firstOutputError.empty()) firstOutputError = std::strerror(errno);
}

bool documentPrinted = false;
std::string errorKind;
std::string errorMessage;
}  // namespace

nlohmann::json orNull(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

int reportUsageError(const std::string& error) {
    std::fprintf(stderr, "ztupdate: %s\n", error.c_str());
    noteError("refused", error);
    return kExitUsage;
}

void noteError(const std::string& kind, const std::string& message) {
    errorKind = kind;
    errorMessage = message;
}

void printErrorDocumentIfNone(int status) {
    if (status == kExitSuccess || documentPrinted) return;
    std::string kind = status >= kExitInterrupted ? "interrupted" : status == kExitUsage ? "usage" : "failed";
    if (!errorKind.empty()) kind = errorKind;
    printJsonDocument(
        {{"error", {{"kind", kind}, {"message", errorMessage.empty() ? nullptr : nlohmann::json(errorMessage)}}}});
}

void printJsonDocument(const nlohmann::json& document) {
    documentPrinted = true;
    std::printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    if (std::fflush(stdout) != 0) noteOutputError();
}

bool standardOutputDelivered(std::string& reason) {
    if (std::fflush(stdout) != 0) noteOutputError();
    if (!std::ferror(stdout) || platform::outputReaderGone(platform::ConsoleStream::kOutput)) return true;
    reason = firstOutputError.empty() ? "a write failed" : firstOutputError;
    return false;
}
