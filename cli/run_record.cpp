// Times, command lines and digests for the run records.
#include "cli/run_record.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

#include "cli/image_files.h"
#include "content/sha256.h"

namespace {

// Minutes east of UTC, from the local and universal calendars of one moment.
long utcOffsetMinutes(const std::tm& local, const std::tm& utc) {
    int days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    return days * 1440L + (local.tm_hour - utc.tm_hour) * 60L + (local.tm_min - utc.tm_min);
}

bool needsQuotes(const std::string& argument) {
    if (argument.empty()) return true;
    return std::any_of(argument.begin(), argument.end(), [](char c) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           std::string_view("-_./:=,+@%").find(c) != std::string_view::npos;
        return !plain;
    });
}

std::string quoted(const std::string& argument) {
    if (!needsQuotes(argument)) return argument;
    std::string text = "'";
    for (char c : argument) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return c - 'a' + 10;
}

std::vector<uint8_t> lineBytes(std::string_view line) {
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(hexValue(line[i]) * 16 + hexValue(line[i + 1])));
    }
    return bytes;
}

struct DataRecord {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

// Data records with their full addresses, after the extended segment and linear address records.
std::vector<DataRecord> dataRecords(std::string_view text) {
    std::vector<DataRecord> records;
    uint32_t base = 0;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (line.empty() || line.front() != ':') continue;
        const std::vector<uint8_t> bytes = lineBytes(line);
        if (bytes.size() < 5 || bytes.size() < 5u + bytes[0]) continue;
        const uint32_t offset = static_cast<uint32_t>(bytes[1] << 8 | bytes[2]);
        const uint32_t value = bytes[0] >= 2 ? static_cast<uint32_t>(bytes[4] << 8 | bytes[5]) : 0;
        if (bytes[3] == 0x00) records.push_back({base + offset, {bytes.begin() + 4, bytes.begin() + 4 + bytes[0]}});
        if (bytes[3] == 0x02) base = value << 4;
        if (bytes[3] == 0x04) base = value << 16;
    }
    return records;
}

}  // namespace

std::string isoTime(WallTime when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    const std::tm local = *std::localtime(&seconds);
    const std::tm utc = *std::gmtime(&seconds);
    const int offset = static_cast<int>(utcOffsetMinutes(local, utc));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis < 0 ? millis + 1000 : millis), offset < 0 ? '-' : '+',
                  (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    return text;
}

WallTime wallTimeAfter(WallTime start, double seconds) {
    return start +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds));
}

std::string commandLineText(int argc, char** argv) {
    std::string text = "ztupdate";
    for (int i = 1; i < argc; ++i) text += " " + quoted(argv[i]);
    return text;
}

std::string hexDataDigest(const ImageBytes& image) {
    std::vector<DataRecord> records =
        dataRecords(std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
    std::stable_sort(records.begin(), records.end(),
                     [](const DataRecord& a, const DataRecord& b) { return a.address < b.address; });
    Sha256 hash;
    for (const DataRecord& record : records) hash.update(record.bytes.data(), record.bytes.size());
    return hash.finishHex();
}

std::string bytesDigest(const ImageBytes& image) { return sha256Hex(image.data(), image.size()); }
