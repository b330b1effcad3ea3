// Decodes the embedded application image N times (argument, default 50) and prints the load
// time and what the decoded image costs in memory against its raw record bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "content/hex_manager.h"

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    if (runs < 1) runs = 1;
    CHexManager image;
    double totalMs = 0, bestMs = 0;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        int loaded = image.loadApplication(L"P32_APPLICATION");
        std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        if (!loaded) {
            std::fprintf(stderr, "no application image embedded\n");
            return 1;
        }
        totalMs += elapsed.count();
        if (i == 0 || elapsed.count() < bestMs) bestMs = elapsed.count();
    }
    std::printf("runs %d\n", runs);
    std::printf("load_mean_ms %.3f\n", totalMs / runs);
    std::printf("load_best_ms %.3f\n", bestMs);
    std::printf("records %u\n", image.recordCount());
    std::printf("record_bytes %zu\n", image.recordBytes());
    std::printf("storage_bytes %zu\n", image.storageBytes());
    std::printf("storage_ratio %.3f\n",
                static_cast<double>(image.storageBytes()) / static_cast<double>(image.recordBytes()));
    return 0;
}
