// Full update of the embedded images against a running zt-unit-sim, timed, beside the floor
// the link allows: a bare request/reply loop of the same frame sizes over UDP on loopback, or
// the wire time of the same bytes at 115200 baud for a serial line.
//
//   bench_update --udp PORT        (simulator bound on 127.0.0.1, bootload mode)
//   bench_update --serial PATH     (simulator's pseudo-terminal, paced at 115200 baud)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bootloader/update_sequence.h"
#include "content/content_globals.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "transport/com_transport.h"
#include "transport/ethernet_transport.h"
#include "ui/worker_messages.h"

namespace {

using Clock = std::chrono::steady_clock;

// Passes everything through and remembers the size of each request and of its reply.
class RecordingTransport : public Transport {
public:
    explicit RecordingTransport(std::unique_ptr<Transport> inner) : inner_(std::move(inner)) {}
    bool open() override { return inner_->open(); }
    bool isOpen() override { return inner_->isOpen(); }
    bool close() override { return inner_->close(); }
    bool write(const uint8_t* data, uint32_t length) override {
        exchanges.push_back({length, 0});
        bytesSent += length;
        return inner_->write(data, length);
    }
    uint16_t read(uint8_t* buffer, uint32_t capacity) override {
        uint16_t n = inner_->read(buffer, capacity);
        if (n && !exchanges.empty() && exchanges.back().second == 0) exchanges.back().second = n;
        bytesReceived += n;
        return n;
    }
    const wchar_t* kind() override { return inner_->kind(); }
    void discardPendingInput() override { inner_->discardPendingInput(); }

    std::vector<std::pair<uint32_t, uint32_t>> exchanges;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;

private:
    std::unique_ptr<Transport> inner_;
};

// A sink that takes the update's messages without a window.
class DiscardingWindow : public platform::MessageSink {
public:
    bool post(platform::WindowMessage) override { return true; }
    intptr_t send(platform::WindowMessage) override { return 0; }
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Requests of the recorded sizes to an in-process responder that answers each at once with a
// datagram of the recorded reply size.
double bareUdpLoop(const std::vector<std::pair<uint32_t, uint32_t>>& exchanges) {
    const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);
    platform::Socket server;
    server.openUdp();
    server.bind(loopback, 0);
    server.setReceiveTimeout(1000);
    const uint16_t serverPort = server.localPort();
    std::thread responder([&] {
        uint8_t buffer[4096] = {};
        for (const auto& [request, reply] : exchanges) {
            uint32_t from = 0;
            uint16_t fromPort = 0;
            if (server.receiveFrom(buffer, sizeof buffer, &from, &fromPort) < 0) return;
            if (reply) server.sendTo(buffer, reply, from, fromPort);
        }
    });
    platform::Socket client;
    client.openUdp();
    client.setReceiveTimeout(1000);
    uint8_t buffer[4096] = {};
    const auto start = Clock::now();
    for (const auto& [request, reply] : exchanges) {
        client.sendTo(buffer, request, loopback, serverPort);
        if (reply) client.receive(buffer, sizeof buffer);
    }
    const double elapsed = seconds(Clock::now() - start);
    responder.join();
    return elapsed;
}

int usage() {
    std::fprintf(stderr, "usage: bench_update --udp PORT | --serial PATH\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return usage();
    const std::string mode = argv[1];
    std::unique_ptr<Transport> link;
    if (mode == "--udp") {
        link = std::make_unique<EthernetTransport>(platform::ipv4Address(127, 0, 0, 1),
                                                   static_cast<uint16_t>(std::stoi(argv[2])));
    } else if (mode == "--serial") {
        link = std::make_unique<COMTransport>(platform::fromUtf8(argv[2]), 115200);
    } else {
        return usage();
    }
    loadEmbeddedContent();
    auto recording = std::make_unique<RecordingTransport>(std::move(link));
    RecordingTransport* recorder = recording.get();

    BootloaderEngine engine;
    UpdateOptions options;
    options.overwriteServerFirmware = 1;
    options.overwriteServerUi = 1;
    DiscardingWindow window;
    UpdateJob job{engine, applicationImage, flashImage, options, &window, L"V1.12"};
    const auto start = Clock::now();
    const uint32_t result = runUpdate(job, std::move(recording));
    const double updateSeconds = seconds(Clock::now() - start);
    if (result != WMU_UPDATE_DONE) {
        std::fprintf(stderr, "update did not complete (message 0x%X)\n", result);
        return 1;
    }
    const auto& exchanges = recorder->exchanges;
    std::printf("update: %zu frames sent, %llu bytes out, %llu bytes in, %.2f s\n", exchanges.size(),
                static_cast<unsigned long long>(recorder->bytesSent),
                static_cast<unsigned long long>(recorder->bytesReceived), updateSeconds);
    if (mode == "--udp") {
        const double bare = bareUdpLoop(exchanges);
        std::printf("bare request/reply loop, same sizes: %.2f s\n", bare);
        std::printf("ratio update / bare loop: %.2f (target <= 1.30)\n", updateSeconds / bare);
    } else {
        const double wire = static_cast<double>(recorder->bytesSent + recorder->bytesReceived) * 10.0 / 115200.0;
        std::printf("wire time at 115200 baud, 10 bits a byte: %.2f s\n", wire);
        std::printf("ratio update / wire time: %.3f (target <= 1.15)\n", updateSeconds / wire);
    }
    return 0;
}
