// The report written at exit, and the comparison of what a unit stored with expected images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/sim_unit.h"
#include "sim/sparse_memory.h"

struct MemoryCheck {
    bool performed = false;
    bool matches = true;
    uint64_t missingBytes = 0;    // expected but never written
    uint64_t extraBytes = 0;      // written but not expected
    uint64_t differentBytes = 0;  // written with another value
    uint32_t firstDifference = 0;
    std::string error;  // the expected file could not be read
};

MemoryCheck compareMemory(const SparseMemory& actual, const SparseMemory& expected);
// The flash file as the flash model would hold it, starting at `origin`.
SparseMemory flashFromImage(const std::vector<uint8_t>& image, uint32_t origin);
// SHA-256 over the flash from its origin to the last written byte; unwritten bytes count as
// 0xFF (erased flash), so a complete image gives the digest of the image file itself.
std::string flashDigest(const SparseMemory& flash, uint32_t origin);

struct UnitReportInput {
    const SimUnit* unit = nullptr;
    int index = 0;
    std::string dumpHexPath;  // empty when no dump was asked for
    MemoryCheck applicationCheck;
    MemoryCheck flashCheck;
};

nlohmann::json unitReport(const UnitReportInput& input);
