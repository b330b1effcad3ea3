// The update sequence and the exit-bootload run.
#include "bootloader/update_sequence.h"

#include <cstring>
#include <cwchar>

#include "bootloader/record_request.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

BootloaderEngine bootloaderEngine;
UpdateOptions updateOptions;

namespace {

constexpr uint8_t kSequenced = 0x80;
constexpr uint16_t kChunkBytes = 64;
constexpr uint32_t kChunkBlockBytes = 72;
constexpr uint32_t kFactoryDefaultsProgress = 10;
constexpr uint32_t kEndOfRunPauseMs = 500;
constexpr uint32_t kBetweenStagesMs = 10;

enum class Identity { kNoReply, kWrong, kPlain, kSequenced };

// Command 1, always plain. Versions 3.0 to 3.2 are acceptable; a third data byte means the
// unit takes sequenced commands.
Identity identifyBootloader(BootloaderEngine& engine) {
    if (!engine.transact(0x01, nullptr, 0, kIdentifyAttempts, kIdentifyTimeoutMs)) return Identity::kNoReply;
    const uint16_t length = engine.replyLength();
    if (length != 5 && length != 6) return Identity::kWrong;
    const uint16_t version = static_cast<uint16_t>(engine.replyData()[1] << 8 | engine.replyData()[2]);
    if (version < 0x0300 || version > 0x0302) return Identity::kWrong;
    return length == 6 ? Identity::kSequenced : Identity::kPlain;
}

void post(platform::WindowHandle window, uint32_t id, uintptr_t wParam = 0, intptr_t lParam = 0) {
    platform::postWindowMessage(window, {id, wParam, lParam, {}});
}

class UpdateRun {
public:
    explicit UpdateRun(UpdateJob& job) : job_(job) {}
    uint32_t run();

private:
    bool transact(uint8_t code, const uint8_t* data, uint32_t length, uint16_t attempts, uint16_t timeoutMs);
    bool stopRequested();
    bool sendChecked(uint8_t code, const uint8_t* data, uint32_t length, uint16_t attempts, uint16_t timeoutMs);
    // A program request succeeds only when the unit says the data is stored.
    bool storedOk() const { return job_.engine.replyLength() >= 2 && job_.engine.replyData()[1] == 1; }
    uint32_t progressTotal() const;
    void addProgress(uint32_t amount);
    bool applicationStage();
    bool flashStage();
    bool factoryDefaultsStage();
    bool runStages();
    bool imagesWorthSending();

    UpdateJob& job_;
    bool sequenced_ = false;
    uint32_t progressDone_ = 0;
};

bool UpdateRun::stopRequested() {
    if (job_.stopRequested && job_.stopRequested->load()) job_.stopped = true;
    return job_.stopped;
}

// A run ends at the first request it cannot trust: one asked to stop, or one whose plain reply
// may have been a late copy of an earlier reply (the unit's memory could then be wrong).
bool UpdateRun::transact(uint8_t code, const uint8_t* data, uint32_t length, uint16_t attempts,
                         uint16_t timeoutMs) {
    if (stopRequested()) return false;
    const bool accepted =
        job_.engine.transact(sequenced_ ? code | kSequenced : code, data, length, attempts, timeoutMs);
    if (job_.engine.repliesInDoubt()) {
        job_.repliesInDoubt = true;
        return false;
    }
    return accepted;
}

bool UpdateRun::sendChecked(uint8_t code, const uint8_t* data, uint32_t length, uint16_t attempts,
                            uint16_t timeoutMs) {
    if (!transact(code, data, length, attempts, timeoutMs)) return false;
    if (job_.engine.replyLength() == 4) return job_.engine.replyData()[1] == 1;
    return true;
}

uint32_t UpdateRun::progressTotal() const {
    uint32_t total = 0;
    if (job_.options.overwriteServerFirmware) total += job_.application.recordCount();
    if (job_.options.overwriteServerUi) total += job_.flash.imageSize();
    if (job_.options.overwriteFactoryDefaults) total += kFactoryDefaultsProgress;
    return total;
}

void UpdateRun::addProgress(uint32_t amount) {
    progressDone_ += amount;
    post(job_.window, WMU_PROGRESS_POS, progressDone_);
}

bool UpdateRun::applicationStage() {
    postStatus(job_.window, uiString(128), true);
    if (!sendChecked(2, nullptr, 0, 5, 10000)) return false;
    job_.application.rewind();
    uint32_t handedOut = job_.application.recordsHandedOut();
    uint8_t request[kRecordRequestBytes];
    for (;;) {
        const uint32_t filled = packRecordRequest(job_.application, request);
        if (filled == 0) break;
        if (!transact(3, request, filled, 5, 1000) || !storedOk()) return false;
        addProgress(job_.application.recordsHandedOut() - handedOut);
        handedOut = job_.application.recordsHandedOut();
    }
    uint8_t version[2];
    parseFirmwareVersion(job_.firmwareVersion, version[0], version[1]);
    return sendChecked(8, version, 2, 5, 1000);
}

bool UpdateRun::flashStage() {
    postStatus(job_.window, uiString(130), true);
    if (!sendChecked(5, nullptr, 0, 2, 10000)) return false;
    job_.flash.rewind();
    uint32_t consumed = job_.flash.bytesConsumed();
    for (;;) {
        uint8_t block[kChunkBlockBytes] = {};
        uint32_t address = 0;
        const uint16_t length = job_.flash.readChunk(block + 8, kChunkBytes, address);
        if (length == 0) break;
        for (int i = 0; i < 4; ++i) {
            block[i] = static_cast<uint8_t>(address >> (8 * i));
            block[4 + i] = static_cast<uint8_t>(length >> (8 * i));
        }
        if (!transact(6, block, kChunkBlockBytes, 5, 1000) || !storedOk()) return false;
        addProgress(job_.flash.bytesConsumed() - consumed);
        consumed = job_.flash.bytesConsumed();
    }
    return sendChecked(7, nullptr, 0, 5, 1000);
}

bool UpdateRun::factoryDefaultsStage() {
    postStatus(job_.window, uiString(140), true);
    if (!sendChecked(12, nullptr, 0, 2, 5000)) return false;
    addProgress(kFactoryDefaultsProgress);
    return true;
}

bool UpdateRun::runStages() {
    if (job_.options.overwriteServerFirmware && !applicationStage()) return false;
    platform::sleepMs(kBetweenStagesMs);
    if (job_.options.overwriteServerUi && !flashStage()) return false;
    platform::sleepMs(kBetweenStagesMs);
    if (job_.options.overwriteFactoryDefaults && !factoryDefaultsStage()) return false;
    platform::sleepMs(kBetweenStagesMs);
    transact(4, nullptr, 0, 1, 1000);
    return !job_.stopped && !job_.repliesInDoubt;
}

// Erasing a unit for an image with nothing to write would leave it without firmware.
bool UpdateRun::imagesWorthSending() {
    if (job_.options.overwriteServerFirmware && !hasDataRecords(job_.application)) return false;
    if (job_.options.overwriteServerUi && job_.flash.imageSize() == 0) return false;
    return true;
}

uint32_t UpdateRun::run() {
    job_.application.rewind();
    job_.flash.rewind();
    postStatus(job_.window, uiString(111), true);
    job_.nothingToSend = !imagesWorthSending();
    if (job_.nothingToSend || stopRequested()) {
        post(job_.window, WMU_UPDATE_FAILED);
        return WMU_UPDATE_FAILED;
    }
    job_.engine.openTransport();

    const Identity identity = identifyBootloader(job_.engine);
    if (identity == Identity::kNoReply || identity == Identity::kWrong) {
        const uint32_t result = identity == Identity::kNoReply ? WMU_NO_RESPONSE : WMU_WRONG_RESPONSE;
        post(job_.window, result);
        job_.engine.closeTransport();
        return result;
    }
    sequenced_ = identity == Identity::kSequenced;
    transact(9, nullptr, 0, 5, 1000);

    platform::sendWindowMessage(job_.window, {WMU_PROGRESS_RANGE, 0, static_cast<intptr_t>(progressTotal()), {}});
    progressDone_ = 0;
    const uint32_t result = runStages() ? WMU_UPDATE_DONE : WMU_UPDATE_FAILED;
    job_.engine.closeTransport();
    post(job_.window, result);
    return result;
}

}  // namespace

void parseFirmwareVersion(const wchar_t* text, uint8_t& minor, uint8_t& major) {
    minor = 1;
    major = 1;
    unsigned readMajor = 0;
    unsigned readMinor = 0;
    if (text && *text && std::swscanf(text, L"V%u.%u", &readMajor, &readMinor) == 2) {
        minor = static_cast<uint8_t>(readMinor & 0xFF);
        major = static_cast<uint8_t>(readMajor & 0xFF);
    }
}

uint32_t runUpdate(UpdateJob& job, std::unique_ptr<Transport> transport) {
    job.engine.setTransport(std::move(transport));
    return UpdateRun(job).run();
}

uint32_t runExitBootload(BootloaderEngine& engine, platform::WindowHandle window,
                         std::unique_ptr<Transport> transport) {
    engine.setTransport(std::move(transport));
    engine.openTransport();
    const Identity identity = identifyBootloader(engine);
    uint32_t result = WMU_BOOTLOAD_EXITED;
    if (identity == Identity::kNoReply) {
        result = WMU_NO_RESPONSE;
    } else if (identity == Identity::kWrong) {
        result = WMU_WRONG_RESPONSE;
    } else {
        const uint8_t leave = identity == Identity::kSequenced ? 0x8B : 0x0B;
        engine.transact(leave, nullptr, 0, 5, 1000);
    }
    engine.closeTransport();
    post(window, result);
    return result;
}

void bootload_thread(BootloadRequest* request) {
    UpdateJob job{bootloaderEngine, applicationImage, flashImage, updateOptions, request->window,
                  unitProperties.getOrEmpty(L"server-fw-version")};
    runUpdate(job, std::move(request->transport));
    platform::sleepMs(kEndOfRunPauseMs);
}

void exit_bootload_thread(BootloadRequest* request) {
    runExitBootload(bootloaderEngine, request->window, std::move(request->transport));
    platform::sleepMs(kEndOfRunPauseMs);
}
