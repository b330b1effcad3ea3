// Discovery replies and serial identification texts from anyone on the network or line: the
// parsers stay inside the received bytes (the input is an exact-size buffer, so ASan sees any
// over-read) and agree with a plain re-statement of the three-line layout.
#include <cstring>
#include <string>

#include "discovery/discovery_formats.h"
#include "discovery/serial_identification.h"
#include "fuzz/fuzz_support.h"
#include "ui/worker_messages.h"

namespace {

// Line 3 of a reply by the straightforward reading: after the second CR LF.
bool hasPrefixOnLineThree(const std::string& reply, const std::string& prefix) {
    size_t first = reply.find("\r\n");
    if (first == std::string::npos) return false;
    size_t second = reply.find("\r\n", first + 2);
    if (second == std::string::npos) return false;
    return reply.compare(second + 2, prefix.size(), prefix) == 0 && reply.size() - (second + 2) >= prefix.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    std::string prefix = "Tavin ZT Series";
    if (choice & 1) {
        std::vector<uint8_t> custom = input.take(choice >> 3);
        prefix.assign(custom.begin(), custom.end());
    }
    std::vector<uint8_t> reply = input.take(input.remaining());
    std::vector<uint8_t> exact(reply);  // exactly sized heap copy
    uint32_t flags = 0xDEAD;
    const bool matched = parseDiscoveryReply(exact.data(), exact.size(), prefix, flags);
    const std::string text(reply.begin(), reply.end());
    FUZZ_CHECK(matched == hasPrefixOnLineThree(text, prefix));
    if (matched) FUZZ_CHECK(flags == 0 || flags == UNIT_FLAG_BOOTLOAD);

    const size_t prefixLength = choice >> 2;
    isBootloadIdentification(exact.data(), exact.size(), prefixLength);
    isBootloadIdentification(exact.data(), exact.size(), SIZE_MAX);
    return 0;
}
