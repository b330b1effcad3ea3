// What the transport tests share: text as bytes, reading an expected amount, serial read timing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "transport/com_transport.h"

inline const uint8_t* bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

// Reads until `expected` bytes came or a bounded number of reads found nothing more.
template <typename T>
std::string readText(T& transport, size_t expected) {
    std::string text;
    uint8_t buffer[2048];
    for (int i = 0; i < 50 && text.size() < expected; ++i) {
        text.append(reinterpret_cast<char*>(buffer), transport.read(buffer, sizeof buffer));
    }
    return text;
}

// Loose bounds: silence lasts about the read time-out, a byte already there (put by
// sendOneByte on the far end) comes back long before it.
template <typename SendOneByte>
void expectSerialReadTiming(COMTransport& port, SendOneByte sendOneByte) {
    uint8_t buffer[2048];
    uint32_t start = platform::systemTickCount();
    EXPECT_EQ(port.read(buffer, sizeof buffer), 0);
    const uint32_t silent = platform::ticksBetween(start, platform::systemTickCount());
    EXPECT_GE(silent, kSerialReadTimeoutMs - 10);
    EXPECT_LT(silent, 1000u);

    sendOneByte();
    start = platform::systemTickCount();
    EXPECT_EQ(port.read(buffer, sizeof buffer), 1);
    EXPECT_LT(platform::ticksBetween(start, platform::systemTickCount()), 100u);
}
