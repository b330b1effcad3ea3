// Helpers for running the updater's core against zt-unit-sim.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "content/bin_manager.h"
#include "content/hex_manager.h"
#include "platform/window_messages.h"
#include "tests/support/scratch_dir.h"
#include "tests/sim/sim_process.h"
#include "transport/transport.h"

// The first `dataRecords` data records of the sample image (with their address records) and
// an end record; and the first `flashBytes` bytes of the sample flash image.
void writeSampleSubset(const std::filesystem::path& hex, uint32_t dataRecords, const std::filesystem::path& flash,
                       uint32_t flashBytes);

enum class Link { kUdp, kSerial };

// A simulated unit in bootload mode on 127.0.0.1 (a free UDP port, no discovery, no TCP) that
// checks its memory against the two files and ends after the closing command; over UDP alone
// or with its serial line.
std::vector<std::string> checkingUnitArgs(const std::filesystem::path& hex, const std::filesystem::path& flash,
                                          Link link);

// The transport to a running simulator's bootloader.
std::unique_ptr<Transport> bootloaderTransport(const SimProcess& sim, Link link);

nlohmann::json readReport(const std::filesystem::path& path);

uint32_t loopbackAddress();

struct UpdateOutcome {
    uint32_t terminal = 0;
    uint32_t range = 0;
    uint32_t lastPosition = 0;
    std::vector<platform::WindowMessage> messages;
};

// Runs one update with all three stages selected as given, on its own engine.
UpdateOutcome runUpdateAgainst(std::unique_ptr<Transport> transport, CHexManager& application, CBinManager& flash,
                               bool firmware, bool ui, bool defaults, bool fastResend = false);
