// The command-port text exchange with replies made of fuzzer bytes in fuzzer-sized reads, and
// the command-port reply checks on what it returns. The reply must stay inside its buffer,
// start at "<" and end at ">" with a terminator right after.
#include <cstring>

#include "commandport/command_port.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    FakeClock clock;
    const uint8_t choice = input.byte();
    const uint32_t replySize = 1 + input.byte() % 64;
    const uint32_t timeoutMs = 50u * (input.byte() % 24);
    FuzzTransport transport(input, clock, (choice & 1) ? 150 : 250,
                            (choice & 2) ? TransportKind::kSerial : TransportKind::kTcp);
    transport.open();

    if (choice & 4) {
        unlockBootload(transport, "1234");
        return 0;
    }
    std::vector<char> reply(replySize);
    const uint32_t started = clock.now();
    const bool answered = transport.exchangeText("<SY,BQ/>", reply.data(), replySize, timeoutMs);
    // The drain's empty read, the 10 ms pause and one read past the budget at most.
    FUZZ_CHECK(clock.now() - started <= timeoutMs + 2 * 250u + 10u + size);
    if (!answered) return 0;
    const size_t length = strnlen(reply.data(), replySize);
    FUZZ_CHECK(length < replySize);
    // A NUL byte from the wire inside the reply shortens the text the callers see.
    FUZZ_CHECK(length >= 1 && reply[0] == '<');
    FUZZ_CHECK(reply[length - 1] == '>' || std::memchr(data, 0, size) != nullptr);
    if (isQueryReply(reply.data())) {
        const char state = bootloadStateOf(reply.data());
        (void)state;
    }
    return 0;
}
