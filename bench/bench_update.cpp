// Full update of the embedded images against a running zt-unit-sim, timed, beside the floor
// the link allows: a bare request/reply loop of the same frame sizes over UDP on loopback,
// answered by another process as the simulator is; or the wire time of the same bytes at
// 115200 baud for a serial line.
//
//   bench_update --udp PORT SIZES      update; writes the request/reply sizes to SIZES
//   bench_update --respond PORT SIZES  bare responder on 127.0.0.1:PORT for those sizes
//   bench_update --bare PORT SIZES     bare request/reply loop against the responder
//   bench_update --replay PORT FRAMES  the update's own requests (saved by --udp as SIZES.frames)
//                                      sent to a fresh simulator by a bare loop: the same peer's
//                                      work, without the updater's
//   bench_update --serial PATH         update over the simulator's paced pseudo-terminal
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/update_sequence.h"
#include "content/content_globals.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "startup/embedded_content.h"
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
        requests.emplace_back(data, data + length);
        bytesSent += length;
        return inner_->write(data, length);
    }
    uint16_t read(uint8_t* buffer, uint32_t capacity) override {
        uint16_t n = inner_->read(buffer, capacity);
        if (n && !exchanges.empty() && exchanges.back().second == 0) exchanges.back().second = n;
        bytesReceived += n;
        return n;
    }
    TransportKind transportKind() override { return inner_->transportKind(); }
    uint32_t readTimeoutMs() const override { return inner_->readTimeoutMs(); }
    bool discardPendingInput() override { return inner_->discardPendingInput(); }

    std::vector<std::pair<uint32_t, uint32_t>> exchanges;
    std::vector<std::vector<uint8_t>> requests;
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

using Exchanges = std::vector<std::pair<uint32_t, uint32_t>>;

void saveExchanges(const char* path, const Exchanges& exchanges) {
    std::FILE* f = std::fopen(path, "w");
    if (!f) return;
    for (const auto& [request, reply] : exchanges) std::fprintf(f, "%u %u\n", request, reply);
    std::fclose(f);
}

Exchanges loadExchanges(const char* path) {
    Exchanges exchanges;
    std::FILE* f = std::fopen(path, "r");
    if (!f) return exchanges;
    unsigned request = 0;
    unsigned reply = 0;
    while (std::fscanf(f, "%u %u", &request, &reply) == 2) exchanges.emplace_back(request, reply);
    std::fclose(f);
    return exchanges;
}

// One request a line: its bytes in hex, then whether it has a reply.
void saveRequests(const std::string& path, const std::vector<std::vector<uint8_t>>& requests,
                  const Exchanges& exchanges) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    for (size_t k = 0; k < requests.size(); ++k) {
        for (uint8_t byte : requests[k]) std::fprintf(f, "%02x", byte);
        std::fprintf(f, " %d\n", exchanges[k].second != 0);
    }
    std::fclose(f);
}

// Each request's bytes, and whether a reply is awaited after it.
using Requests = std::vector<std::pair<std::vector<uint8_t>, bool>>;

Requests loadRequests(const char* path) {
    Requests requests;
    std::FILE* f = std::fopen(path, "r");
    if (!f) return requests;
    static char line[8192];
    while (std::fgets(line, sizeof line, f)) {
        std::vector<uint8_t> bytes;
        const char* p = line;
        unsigned byte = 0;
        while (std::sscanf(p, "%2x", &byte) == 1 && *p != ' ') {
            bytes.push_back(static_cast<uint8_t>(byte));
            p += 2;
        }
        requests.emplace_back(std::move(bytes), std::strstr(p, "1") != nullptr);
    }
    std::fclose(f);
    return requests;
}

// Sends each request to 127.0.0.1:port, waiting for its reply when it had one, and prints the
// time taken after `label`.
int timedLoop(uint16_t port, const Requests& requests, const char* label) {
    platform::Socket client;
    client.openUdp();
    client.setReceiveTimeout(1000);
    uint8_t buffer[4096] = {};
    const auto start = Clock::now();
    for (const auto& [request, hasReply] : requests) {
        client.sendTo(request.data(), static_cast<uint32_t>(request.size()), platform::ipv4Address(127, 0, 0, 1), port);
        if (hasReply && client.receive(buffer, sizeof buffer) < 0) return 1;
    }
    std::printf("%s: %.2f s\n", label, seconds(Clock::now() - start));
    return 0;
}

// Answers each request at once with a datagram of the recorded reply size.
int respond(uint16_t port, const Exchanges& exchanges) {
    platform::Socket server;
    if (!server.openUdp() || !server.bind(platform::ipv4Address(127, 0, 0, 1), port)) return 1;
    server.setReceiveTimeout(5000);
    uint8_t buffer[4096] = {};
    for (const auto& [request, reply] : exchanges) {
        uint32_t from = 0;
        uint16_t fromPort = 0;
        if (server.receiveFrom(buffer, sizeof buffer, &from, &fromPort) < 0) return 1;
        if (reply) server.sendTo(buffer, reply, from, fromPort);
    }
    return 0;
}

// Requests of the recorded sizes (zero bytes), each waiting for its reply.
int bareLoop(uint16_t port, const Exchanges& exchanges) {
    Requests requests;
    for (const auto& [request, reply] : exchanges) requests.emplace_back(std::vector<uint8_t>(request), reply != 0);
    return timedLoop(port, requests, "bare request/reply loop, same sizes");
}

int usage() {
    std::fprintf(
        stderr,
        "usage: bench_update --udp PORT SIZES | --respond PORT SIZES | --bare PORT SIZES | --replay PORT FRAMES |"
        " --serial PATH\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    if ((mode == "--respond" || mode == "--bare") && argc == 4) {
        const auto port = static_cast<uint16_t>(std::stoi(argv[2]));
        const Exchanges exchanges = loadExchanges(argv[3]);
        return mode == "--respond" ? respond(port, exchanges) : bareLoop(port, exchanges);
    }
    if (mode == "--replay" && argc == 4) {
        return timedLoop(static_cast<uint16_t>(std::stoi(argv[2])), loadRequests(argv[3]),
                         "the same requests replayed to a fresh simulator");
    }
    std::unique_ptr<Transport> link;
    if (mode == "--udp" && argc == 4) {
        link = std::make_unique<EthernetTransport>(platform::ipv4Address(127, 0, 0, 1),
                                                   static_cast<uint16_t>(std::stoi(argv[2])));
    } else if (mode == "--serial" && argc == 3) {
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
    std::printf("update: %zu frames sent, %llu bytes out, %llu bytes in, %.2f s\n", recorder->exchanges.size(),
                static_cast<unsigned long long>(recorder->bytesSent),
                static_cast<unsigned long long>(recorder->bytesReceived), updateSeconds);
    if (mode == "--udp") {
        saveExchanges(argv[3], recorder->exchanges);
        saveRequests(std::string(argv[3]) + ".frames", recorder->requests, recorder->exchanges);
    } else {
        const double wire = static_cast<double>(recorder->bytesSent + recorder->bytesReceived) * 10.0 / 115200.0;
        std::printf("wire time at 115200 baud, 10 bits a byte: %.2f s\n", wire);
        std::printf("ratio update / wire time: %.3f (target <= 1.15)\n", updateSeconds / wire);
    }
    return 0;
}
