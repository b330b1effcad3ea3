// Image checks and transfer estimates.
#include "cli/inspect_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bootloader/byte_order.h"
#include "bootloader/commands.h"
#include "bootloader/frame_codec.h"
#include "bootloader/record_request.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "content/content_globals.h"

namespace {

// Identify, application version, erase, firmware version, erase flash, close flash, closing.
constexpr uint32_t kFixedExchanges = 7;
// A sequenced message: command byte and 4-byte sequence number; then the CRC; SOH and EOT.
constexpr uint32_t kMessageOverhead = 1 + 4 + 2 + 2;
// Reply to a program request: command, sequence, status, CRC, framed.
constexpr uint32_t kReplyBytes = kMessageOverhead + 1;
// The unit's time to act on one request and answer, erases not included: a whole update of
// 12,506 requests over UDP takes about 25 s, 2 ms each.
constexpr double kTurnaroundSeconds = 0.002;
// On a serial line a USB adapter adds about a millisecond (a USB frame) before the host sees
// each reply.
constexpr double kSerialAdapterSeconds = 0.001;

// A chunk request's frame as it goes on the line: the block programChunk sends, numbered,
// with its CRC, and every byte that equals a framing byte stuffed.
uint32_t chunkFrameBytes(uint32_t sequence, uint32_t position, const uint8_t* data, uint16_t length) {
    uint8_t message[1 + kSequenceBytes + kChunkBlockBytes] = {};
    message[0] = commandByte(Command::kProgramChunk, true);
    put32MsbFirst(message + 1, sequence);
    uint8_t* block = message + 1 + kSequenceBytes;
    put32LsbFirst(block + kChunkPositionOffset, position);
    put32LsbFirst(block + kChunkLengthOffset, length);
    std::memcpy(block + kChunkDataOffset, data, std::min<uint16_t>(length, kChunkDataBytes));
    uint8_t frame[2 * sizeof message + 8];
    return static_cast<uint32_t>(encodeFrame(message, sizeof message, frame, sizeof frame));
}
constexpr double kSerialBytesPerSecond = 115200.0 / 10;

void printRanges(const HexCheckResult& check, bool everyRange) {
    std::printf("  address ranges:  %zu%s\n", check.ranges.size(), everyRange ? "" : " (list them with --ranges)");
    if (!everyRange) return;
    for (const AddressRange& r : check.ranges) {
        std::printf("    0x%08X-0x%08X  %u bytes\n", r.first, r.last, r.last - r.first + 1);
    }
}

nlohmann::json rangesJson(const HexCheckResult& check) {
    nlohmann::json ranges = nlohmann::json::array();
    for (const AddressRange& r : check.ranges) ranges.push_back({{"first", r.first}, {"last", r.last}});
    return ranges;
}

}  // namespace

TransferPlan planTransfer(CHexManager& application, CBinManager* flash) {
    TransferPlan plan;
    plan.exchanges = kFixedExchanges;
    plan.serialBytes = kFixedExchanges * (kMessageOverhead + kReplyBytes + 4);
    application.rewind();
    uint8_t request[kRecordRequestBytes];
    for (;;) {
        const uint32_t filled = packRecordRequest(application, request);
        if (filled == 0) break;
        ++plan.programRequests;
        plan.serialBytes += stuffedSize(request, filled) + kMessageOverhead + kReplyBytes;
    }
    if (flash) {
        flash->rewind();
        uint8_t chunk[kChunkDataBytes];
        uint32_t position = 0;
        while (const uint16_t length = flash->readChunk(chunk, kChunkDataBytes, position)) {
            plan.serialBytes +=
                chunkFrameBytes(plan.exchanges + plan.programRequests + plan.flashChunks, position, chunk, length) +
                kReplyBytes;
            ++plan.flashChunks;
        }
        flash->rewind();
    }
    plan.exchanges += plan.programRequests + plan.flashChunks;
    return plan;
}

double serialSeconds(const TransferPlan& plan) {
    return plan.serialBytes / kSerialBytesPerSecond + plan.exchanges * (kTurnaroundSeconds + kSerialAdapterSeconds);
}

double udpSeconds(const TransferPlan& plan) { return plan.exchanges * kTurnaroundSeconds; }

int runInspectCommand(const GlobalOptions& options, const ImageChoice& images, bool ranges) {
    HexCheckResult check;
    ImageBytes hexBytes;
    ImageBytes flashBytes;
    std::string error;
    CHexManager application;
    if (!readApplicationImage(images, hexBytes, check, error) || !readFlashImage(images, flashBytes, error))
        return reportUsageError(error);
    loadApplicationCopy(hexBytes, application);
    CBinManager flash(kFlashImageOrigin);
    loadFlashCopy(flashBytes, flash);
    const TransferPlan plan = planTransfer(application, &flash);
    const std::string hexName = images.hexFile.empty() ? "embedded" : images.hexFile;
    const std::string flashName = images.flashFile.empty() ? "embedded" : images.flashFile;

    if (options.json) {
        nlohmann::json applicationDocument = {{"source", hexName},
                                              {"records", check.records},
                                              {"data_records", check.dataRecords},
                                              {"data_bytes", check.dataBytes},
                                              {"address_ranges", check.ranges.size()},
                                              {"program_requests", plan.programRequests}};
        if (ranges) applicationDocument["ranges"] = rangesJson(check);
        printJsonDocument({{"application", applicationDocument},
                           {"flash",
                            {{"source", flashName},
                             {"bytes", flashBytes.size()},
                             {"chunks", plan.flashChunks},
                             {"origin", kFlashImageOrigin}}},
                           {"exchanges", plan.exchanges},
                           {"estimated_seconds", {{"udp", udpSeconds(plan)}, {"serial_115200", serialSeconds(plan)}}}});
        return kExitSuccess;
    }
    std::printf("Application image (%s): checked, no problems\n", hexName.c_str());
    std::printf("  records:         %u (%u with data, %llu data bytes)\n", check.records, check.dataRecords,
                static_cast<unsigned long long>(check.dataBytes));
    printRanges(check, ranges);
    std::printf("  program requests: %u (up to %u records each)\n", plan.programRequests, kRecordsPerRequest);
    std::printf("Flash image (%s): %zu bytes from 0x%X, %u chunks of %u\n", flashName.c_str(), flashBytes.size(),
                kFlashImageOrigin, plan.flashChunks, kChunkDataBytes);
    std::printf("An update of both: %u requests, %llu bytes on a serial line\n", plan.exchanges,
                static_cast<unsigned long long>(plan.serialBytes));
    std::printf("  over UDP:         about %.0f s\n", udpSeconds(plan));
    std::printf("  at 115200 baud:   about %.0f s\n", serialSeconds(plan));
    std::printf(
        "  (assuming %.0f ms for the unit to answer each request, %.0f ms behind a serial adapter; erase times "
        "not included)\n",
        kTurnaroundSeconds * 1000, (kTurnaroundSeconds + kSerialAdapterSeconds) * 1000);
    return kExitSuccess;
}

CliCommand addInspectCommand(CLI::App& app) {
    struct Choices {
        ImageChoice images;
        bool ranges = false;
    };
    auto choices = std::make_shared<Choices>();
    CLI::App* inspect = addSubcommand(app, "inspect", kInspectHelp);
    addImageOptions(inspect, choices->images);
    inspect->add_flag("--ranges", choices->ranges, "also list every address range of the application image");
    return {inspect, CommandNeeds::kContent, [choices](const GlobalOptions& options) {
                return runInspectCommand(options, choices->images, choices->ranges);
            }};
}
