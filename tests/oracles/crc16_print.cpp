// Reads one hex string a line from standard input and prints the CRC of its bytes, 4 hex digits.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "bootloader/crc16.h"

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i + 1 < line.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
        }
        std::printf("%04x\n", crc16(bytes.data(), static_cast<uint32_t>(bytes.size())));
    }
    return 0;
}
