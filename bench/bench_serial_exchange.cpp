// Time per bootloader command/reply exchange over a pseudo-terminal pair whose far end
// answers at once: shows what the serial read time-out costs each exchange.
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "bootloader/frame_codec.h"
#include "platform/clock.h"
#include "platform/pseudo_terminal.h"
#include "transport/com_transport.h"

namespace {

constexpr int kExchanges = 1000;
// A program request of eight 16-byte records, and a short acknowledgement.
constexpr size_t kRequestMessageBytes = 1 + 4 + 8 * 21;
constexpr size_t kReplyMessageBytes = 1 + 4 + 1;

std::vector<uint8_t> frameOf(size_t messageBytes, uint8_t command) {
    std::vector<uint8_t> message(messageBytes);
    for (size_t i = 0; i < messageBytes; ++i) message[i] = static_cast<uint8_t>(i * 7 + 3);
    message[0] = command;
    std::vector<uint8_t> frame(kFrameBufferSize);
    frame.resize(encodeFrame(message.data(), message.size(), frame.data(), frame.size()));
    return frame;
}

// Reads until one whole frame has come, or a bounded number of reads found none.
template <typename ReadFn>
bool receiveFrame(ReadFn read) {
    FrameDecoder decoder;
    uint8_t buffer[kFrameBufferSize];
    for (int reads = 0; reads < 50 && !decoder.frameComplete(); ++reads) {
        uint32_t count = read(buffer, sizeof buffer);
        decoder.feed(buffer, count);
    }
    return decoder.frameComplete();
}

}  // namespace

int main() {
    platform::PseudoTerminal pty;
    if (!pty.open()) {
        std::fprintf(stderr, "no pseudo-terminal available\n");
        return 1;
    }
    COMTransport port(pty.portName(), 115200);
    if (!port.open()) {
        std::fprintf(stderr, "could not open the pseudo-terminal as a serial port\n");
        return 1;
    }
    const std::vector<uint8_t> request = frameOf(kRequestMessageBytes, 0x83);
    const std::vector<uint8_t> reply = frameOf(kReplyMessageBytes, 0x83);

    std::atomic<bool> stop{false};
    std::thread unit([&] {
        while (!stop.load()) {
            if (receiveFrame([&](uint8_t* b, uint32_t n) { return pty.readFar(b, n, 20); })) {
                pty.writeFar(reply.data(), static_cast<uint32_t>(reply.size()));
            }
        }
    });

    int answered = 0;
    const uint32_t start = platform::systemTickCount();
    for (int i = 0; i < kExchanges; ++i) {
        port.write(request.data(), static_cast<uint32_t>(request.size()));
        if (receiveFrame([&](uint8_t* b, uint32_t n) { return port.read(b, n); })) ++answered;
    }
    const uint32_t elapsed = platform::ticksBetween(start, platform::systemTickCount());
    stop.store(true);
    unit.join();

    std::printf("serial exchanges: %d of %d answered, %zu-byte request, %zu-byte reply\n", answered, kExchanges,
                request.size(), reply.size());
    std::printf("mean time per exchange: %.3f ms (a read that waits out its time-out: %u ms; target < 5 ms)\n",
                static_cast<double>(elapsed) / kExchanges, kSerialReadTimeoutMs);
    return answered == kExchanges ? 0 : 1;
}
