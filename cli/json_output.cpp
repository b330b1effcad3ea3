// Printing the document that --json promises: one, on standard output, flushed at once.
#include "cli/json_output.h"

#include <cstdio>

void printJsonDocument(const nlohmann::json& document) {
    std::printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}
