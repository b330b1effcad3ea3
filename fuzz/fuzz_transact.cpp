// Transactions against a unit that answers with fuzzer bytes: raw runs, or well-framed replies
// built from the fuzzer's bytes so that acceptance and re-packing are reached too. Every call
// must end, and an accepted reply must be in plain form with a good CRC.
#include <cstring>

#include "bootloader/bootloader_engine.h"
#include "bootloader/commands.h"
#include "bootloader/crc16.h"
#include "fuzz/fuzz_support.h"

namespace {

// Reads take a mode byte first: odd means "frame the run as a reply to the last command sent".
class ReplyingTransport : public FuzzTransport {
public:
    ReplyingTransport(FuzzInput& input, FakeClock& clock, BootloaderEngine*& engine)
        : FuzzTransport(input, clock, 10, TransportKind::kUdp), input_(input), engine_(engine) {}

    bool write(const uint8_t* data, uint32_t length) override {
        lastCommand_ = length > 1 ? data[1] : 0;
        if (lastCommand_ == 0x10 && length > 2) lastCommand_ = data[2];
        if (firstCommand == 0) firstCommand = lastCommand_;
        return FuzzTransport::write(data, length);
    }

    // The command byte of the first write since the test last cleared it.
    uint8_t firstCommand = 0;

    uint16_t read(uint8_t* buffer, uint32_t capacity) override {
        if (input_.empty() || (input_.byte() & 1) == 0) return FuzzTransport::read(buffer, capacity);
        std::vector<uint8_t> message = {lastCommand_};
        if ((lastCommand_ & kSequencedBit) && engine_) {
            const uint32_t sequence = engine_->sequence();
            for (int shift = 24; shift >= 0; shift -= 8) message.push_back(static_cast<uint8_t>(sequence >> shift));
        }
        std::vector<uint8_t> payload = input_.take(input_.byte());
        message.insert(message.end(), payload.begin(), payload.end());
        std::vector<uint8_t> frame(2 * message.size() + 8);
        frame.resize(encodeFrame(message.data(), message.size(), frame.data(), frame.size()));
        const size_t count = frame.size() < capacity ? frame.size() : capacity;
        std::memcpy(buffer, frame.data(), count);
        return static_cast<uint16_t>(count);
    }

private:
    FuzzInput& input_;
    BootloaderEngine*& engine_;
    uint8_t lastCommand_ = 0;
};

void checkAcceptedReply(const BootloaderEngine& engine, uint8_t command) {
    const uint16_t length = engine.replyLength();
    const uint8_t* reply = engine.replyData();
    FUZZ_CHECK(length >= 3 && length < kReceiveLimit);
    FUZZ_CHECK(reply[0] == (command & ~kSequencedBit));
    const uint16_t crc = static_cast<uint16_t>(reply[length - 2] | (reply[length - 1] << 8));
    FUZZ_CHECK(crc == crc16(reply, length - 2u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    FakeClock clock;
    BootloaderEngine* engineRef = nullptr;
    BootloaderEngine engine;
    engineRef = &engine;
    auto transport = std::make_unique<ReplyingTransport>(input, clock, engineRef);
    ReplyingTransport* link = transport.get();
    engine.setTransport(std::move(transport));
    engine.openTransport();

    uint8_t payload[256 * 9 + 72] = {};
    for (int transaction = 0; transaction < 6 && !input.empty(); ++transaction) {
        const uint8_t command = input.byte();
        const uint16_t attempts = static_cast<uint16_t>(1 + input.byte() % 5);
        const uint16_t timeoutMs = static_cast<uint16_t>(10 + 10 * (input.byte() % 100));
        const uint32_t length = input.byte() * 9u;
        std::vector<uint8_t> bytes = input.take(length < 72 ? 72 : length);
        if (!bytes.empty()) std::memcpy(payload, bytes.data(), bytes.size());
        if (input.byte() == 0xFF) engine.setSequenceForTesting(0xFFFFFFFFu);

        const uint32_t started = clock.now();
        link->firstCommand = 0;
        const bool accepted = engine.transact(command, payload, length, attempts, timeoutMs);
        // Every transaction ends within its attempts and a few reads after the last send, and
        // the version query that may go first to set a resent plain request's extra replies
        // aside within its own.
        const bool flushed =
            link->firstCommand == codeOf(Command::kApplicationVersion) && command != link->firstCommand;
        const CommandTiming& query = timingOf(Command::kApplicationVersion);
        const uint32_t flushMs = flushed ? query.attempts * (query.timeoutMs + 20u) : 0;
        FUZZ_CHECK(clock.now() - started <= attempts * (timeoutMs + 20u) + flushMs + 100u + 2 * size);
        if (accepted) checkAcceptedReply(engine, command);
        FUZZ_CHECK(engine.sequence() != 0 || !(command & kSequencedBit) || !accepted);
    }
    engineRef = nullptr;
    return 0;
}
