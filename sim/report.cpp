// Report contents. Field names are what scripts read; keep them stable.
#include "sim/report.h"

#include <algorithm>

#include "sim/intel_hex.h"
#include "content/sha256.h"

namespace {

void noteDifference(MemoryCheck& check, uint32_t address) {
    if (check.matches) check.firstDifference = address;
    check.matches = false;
}

nlohmann::json checkJson(const MemoryCheck& check) {
    if (!check.performed) return nullptr;
    nlohmann::json json = {{"matches", check.matches},
                           {"missing_bytes", check.missingBytes},
                           {"extra_bytes", check.extraBytes},
                           {"different_bytes", check.differentBytes}};
    if (!check.matches && check.error.empty()) json["first_difference"] = check.firstDifference;
    if (!check.error.empty()) json["error"] = check.error;
    return json;
}

}  // namespace

MemoryCheck compareMemory(const SparseMemory& actual, const SparseMemory& expected) {
    MemoryCheck check;
    check.performed = true;
    expected.forEach([&](uint32_t address, uint8_t value) {
        uint8_t stored = 0;
        if (!actual.read(address, stored)) {
            ++check.missingBytes;
            noteDifference(check, address);
        } else if (stored != value) {
            ++check.differentBytes;
            noteDifference(check, address);
        }
    });
    actual.forEach([&](uint32_t address, uint8_t) {
        uint8_t unused = 0;
        if (!expected.read(address, unused)) {
            ++check.extraBytes;
            if (check.matches || address < check.firstDifference) check.firstDifference = address;
            check.matches = false;
        }
    });
    return check;
}

SparseMemory flashFromImage(const std::vector<uint8_t>& image, uint32_t origin) {
    SparseMemory memory;
    for (size_t i = 0; i < image.size(); ++i) memory.write(origin + static_cast<uint32_t>(i), image[i]);
    return memory;
}

std::string flashDigest(const SparseMemory& flash, uint32_t origin) {
    Sha256 hash;
    if (!flash.empty() && flash.highestAddress() >= origin) {
        std::vector<uint8_t> bytes(flash.highestAddress() - origin + 1, 0xFF);
        flash.forEach([&](uint32_t address, uint8_t value) {
            if (address >= origin) bytes[address - origin] = value;
        });
        hash.update(bytes.data(), bytes.size());
    }
    return hash.finishHex();
}

nlohmann::json unitReport(const UnitReportInput& input) {
    const SimUnit& unit = *input.unit;
    const BootloaderUnit& bootloader = unit.bootloader();
    const BootloaderStats& stats = bootloader.stats();
    const LinkStats& link = unit.linkStats();
    std::string hexText = formatHexText(bootloader.applicationMemory());
    const SparseMemory& flash = bootloader.flashMemory();

    nlohmann::json json;
    json["unit"] = input.index;
    json["mode"] = unitModeName(unit.mode());
    json["vanished"] = unit.vanished();
    json["commands"] = stats.commandCounts;
    json["duplicates"] = stats.duplicates;
    json["replayed_record_requests"] = stats.replays;
    json["anomaly_count"] = stats.anomalyCount;
    json["anomalies"] = stats.anomalies;
    json["close_received"] = stats.closeReceived;
    json["leave_received"] = stats.leaveReceived;
    json["version_written"] = stats.versionWritten;
    json["application_version"] = {{"major", bootloader.applicationMajor()}, {"minor", bootloader.applicationMinor()}};
    json["application_bytes"] = bootloader.applicationMemory().bytesWritten();
    json["application_hex"] = input.dumpHexPath.empty() ? nlohmann::json(nullptr) : nlohmann::json(input.dumpHexPath);
    json["application_hex_sha256"] = sha256Hex(reinterpret_cast<const uint8_t*>(hexText.data()), hexText.size());
    json["flash_bytes"] = flash.bytesWritten();
    json["flash_lowest"] = flash.empty() ? nlohmann::json(nullptr) : nlohmann::json(flash.lowestAddress());
    json["flash_highest"] = flash.empty() ? nlohmann::json(nullptr) : nlohmann::json(flash.highestAddress());
    json["flash_sha256"] = flashDigest(flash, kFlashOrigin);
    json["link"] = {{"frames_received", link.framesReceived},
                    {"frames_dropped_incoming", link.framesDroppedIncoming},
                    {"replies_dropped_outgoing", link.repliesDroppedOutgoing},
                    {"replies_corrupted", link.repliesCorrupted},
                    {"frames_ignored", link.framesIgnored},
                    {"discovery_replies", link.discoveryReplies}};
    const CommandPortStats& port = unit.commandPort().stats();
    json["command_port"] = {{"commands", port.commands},
                            {"wrong_pins", port.wrongPins},
                            {"bootload_enabled", unit.commandPort().bootloadEnabled()}};
    json["check"] = {{"application", checkJson(input.applicationCheck)}, {"flash", checkJson(input.flashCheck)}};
    return json;
}
