// Printing the document that --json promises: one, on standard output, flushed at once.
#include "cli/json_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace {
// Why a flush of standard output failed, kept for the check at the end: errno is long gone by then.
std::string firstOutputError;

void noteOutputError() {
    if (firstOutputError.empty()) firstOutputError = std::strerror(errno);
}
}  // namespace

void printJsonDocument(const nlohmann::json& document) {
    std::printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    if (std::fflush(stdout) != 0) noteOutputError();
}

bool standardOutputDelivered(std::string& reason) {
    if (std::fflush(stdout) != 0) noteOutputError();
    if (!std::ferror(stdout) || platform::outputReaderGone(platform::ConsoleStream::kOutput)) return true;
    reason = firstOutputError.empty() ? "a write failed" : firstOutputError;
    return false;
}
