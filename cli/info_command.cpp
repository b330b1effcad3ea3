// The build's content as text or JSON, from the loaded property stores and images.
#include "cli/info_command.h"

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "content/content_globals.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace {

// How the update sends the images: records packed into program requests, flash in chunks.
constexpr uint32_t kRecordsPerRequest = 8;
constexpr uint32_t kFlashChunkBytes = 64;

constexpr const wchar_t* kComponentKeys[] = {L"core-hw-version", L"core-fw-version", L"server-hw-version",
                                             L"server-ui-version", L"server-fw-version"};

uint32_t roundUpDivide(uint32_t value, uint32_t divisor) { return (value + divisor - 1) / divisor; }

// With LF line ends, which standard output turns into the platform's own.
std::string releaseNotes() {
    platform::ResourceBytes notes;
    if (!platform::findResource(L"BUILD_NOTES", L"NOTES", notes)) return {};
    std::string text;
    text.reserve(notes.size);
    for (size_t i = 0; i < notes.size; ++i) {
        bool crBeforeLf = notes.data[i] == '\r' && i + 1 < notes.size && notes.data[i + 1] == '\n';
        if (!crBeforeLf) text += static_cast<char>(notes.data[i]);
    }
    return text;
}

std::string property(const wchar_t* key) { return platform::toUtf8(unitProperties.getOrEmpty(key)); }

nlohmann::json infoDocument() {
    nlohmann::json components = nlohmann::json::object();
    for (const wchar_t* key : kComponentKeys) {
        const wchar_t* value = unitProperties.get(key);
        components[platform::toUtf8(key)] = value ? nlohmann::json(platform::toUtf8(value)) : nullptr;
    }
    return {
        {"model", property(L"model")},
        {"build_version", property(L"build-version")},
        {"components", components},
        {"application_image",
         {{"records", applicationImage.recordCount()},
          {"record_bytes", applicationImage.recordBytes()},
          {"program_requests", roundUpDivide(applicationImage.recordCount(), kRecordsPerRequest)}}},
        {"flash_image",
         {{"bytes", flashImage.imageSize()},
          {"chunks", roundUpDivide(flashImage.imageSize(), kFlashChunkBytes)},
          {"origin", flashImage.imageOrigin()}}},
        {"release_notes", releaseNotes()},
    };
}

void printText() {
    std::printf("Model:               %s\n", property(L"model").c_str());
    std::printf("Build version:       %s\n", property(L"build-version").c_str());
    for (const wchar_t* key : kComponentKeys) {
        const wchar_t* value = unitProperties.get(key);
        if (value) std::printf("  %-18s %s\n", platform::toUtf8(key).c_str(), platform::toUtf8(value).c_str());
    }
    std::printf("Application image:   %u records, %zu bytes, %u program requests\n", applicationImage.recordCount(),
                applicationImage.recordBytes(), roundUpDivide(applicationImage.recordCount(), kRecordsPerRequest));
    std::printf("Flash image:         %u bytes, %u chunks of %u from 0x%X\n", flashImage.imageSize(),
                roundUpDivide(flashImage.imageSize(), kFlashChunkBytes), kFlashChunkBytes, flashImage.imageOrigin());
    std::string notes = releaseNotes();
    if (!notes.empty()) std::printf("\nRelease notes:\n%s", notes.c_str());
}

}  // namespace

std::string versionText() {
    std::string text = std::string("ztupdate ") + ZT_PROGRAM_VERSION + "\n";
    text += "Build:                " + property(L"build-version") + "\n";
    text += "Application firmware: " + property(L"server-fw-version") + "\n";
    text += "Web content:          " + property(L"server-ui-version");
    return text;
}

nlohmann::json versionDocument() {
    return {{"ztupdate_version", ZT_PROGRAM_VERSION},
            {"build", property(L"build-version")},
            {"application_firmware", property(L"server-fw-version")},
            {"web_content", property(L"server-ui-version")}};
}

int runInfoCommand(const GlobalOptions& options) {
    if (options.json) {
        std::printf("%s\n", infoDocument().dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        printText();
    }
    return 0;
}

CliCommand addInfoCommand(CLI::App& app) {
    return {addSubcommand(app, "info", kInfoHelp), CommandNeeds::kContent, runInfoCommand};
}
