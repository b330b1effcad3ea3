// `ztupdate inspect`: checks the images and tells what an update would send and how long it
// would take, without talking to any unit.
#pragma once

#include <cstdint>

#include "cli/command.h"
#include "cli/global_options.h"
#include "cli/image_files.h"
#include "content/bin_manager.h"

// What an update sends, counted the way the update sequence packs it.
struct TransferPlan {
    uint32_t programRequests = 0;
    uint32_t flashChunks = 0;
    // Requests of every kind: identification, version, erases, programs, chunks, closings.
    uint32_t exchanges = 0;
    // Bytes on a serial line both ways, frames stuffed as they are sent.
    uint64_t serialBytes = 0;
};

// flash is null when the flash stage is not run.
TransferPlan planTransfer(CHexManager& application, CBinManager* flash);
// At 115200 baud, 10 bits a byte, with the turnaround of a unit behind a serial adapter per
// exchange added.
double serialSeconds(const TransferPlan& plan);
double udpSeconds(const TransferPlan& plan);

// The summary; every address range too (text and JSON) with ranges.
int runInspectCommand(const GlobalOptions& options, const ImageChoice& images, bool ranges);
CliCommand addInspectCommand(CLI::App& app);
