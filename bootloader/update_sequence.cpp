// The update sequence and the exit-bootload run.
#include "bootloader/update_sequence.h"

#include <cstring>
#include <cwchar>

#include "bootloader/bootloader_commands.h"
#include "bootloader/record_request.h"
#include "content/content_globals.h"
#include "platform/clock.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

BootloaderEngine bootloaderEngine;
UpdateOptions updateOptions;

namespace {

constexpr uint32_t kFactoryDefaultsProgress = 10;
constexpr uint32_t kEndOfRunPauseMs = 500;
constexpr uint32_t kBetweenStagesMs = 10;

enum class Identity { kNoReply, kWrong, kPlain, kSequenced };

constexpr uint16_t kFirstUpdatableVersion = 0x0300;
constexpr uint16_t kLastUpdatableVersion = 0x0302;

// Versions 3.0 to 3.2 are acceptable (any version with `anyVersion`); a third data byte means
// the unit takes sequenced commands.
Identity identifyBootloader(BootloaderCommands& commands, bool anyVersion = false) {
    const Identification identification = commands.identify();
    if (!identification.answered) return Identity::kNoReply;
    if (identification.replyLength != kPlainIdentificationLength &&
        identification.replyLength != kSequencedIdentificationLength) {
        return Identity::kWrong;
    }
    if (!anyVersion &&
        (identification.version < kFirstUpdatableVersion || identification.version > kLastUpdatableVersion)) {
        return Identity::kWrong;
    }
    return identification.acceptsSequenced ? Identity::kSequenced : Identity::kPlain;
}

void post(platform::WindowHandle window, uint32_t id, uintptr_t wParam = 0, intptr_t lParam = 0) {
    platform::postWindowMessage(window, {id, wParam, lParam, {}});
}

class UpdateRun {
public:
    explicit UpdateRun(UpdateJob& job) : job_(job), commands_(job.engine) { commands_.setStopFlag(job.stopRequested); }
    uint32_t run();

private:
    bool stopRequested();
    uint32_t progressTotal() const;
    void addProgress(uint32_t amount);
    bool applicationStage();
    bool flashStage();
    bool factoryDefaultsStage();
    bool runStages();
    bool imagesWorthSending();

    UpdateJob& job_;
    BootloaderCommands commands_;
    uint32_t progressDone_ = 0;
};

bool UpdateRun::stopRequested() {
    if (job_.stopRequested && job_.stopRequested->load()) job_.stopped = true;
    return job_.stopped;
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
    postStatus(job_.window, uiString(kServerApplication), true, RunStage::kApplication);
    if (!commands_.eraseApplication()) return false;
    job_.application.rewind();
    uint32_t handedOut = job_.application.recordsHandedOut();
    uint8_t request[kRecordRequestBytes];
    for (;;) {
        const uint32_t filled = packRecordRequest(job_.application, request);
        if (filled == 0) break;
        if (!commands_.programRecords(request, filled)) return false;
        addProgress(job_.application.recordsHandedOut() - handedOut);
        handedOut = job_.application.recordsHandedOut();
    }
    uint8_t minor = 0;
    uint8_t major = 0;
    parseFirmwareVersion(job_.firmwareVersion, minor, major);
    return commands_.writeVersion(minor, major);
}

bool UpdateRun::flashStage() {
    postStatus(job_.window, uiString(kServerUi), true, RunStage::kFlash);
    if (!commands_.eraseImage()) return false;
    job_.flash.rewind();
    uint32_t consumed = job_.flash.bytesConsumed();
    for (;;) {
        uint8_t chunk[kChunkDataBytes];
        uint32_t position = 0;
        const uint16_t length = job_.flash.readChunk(chunk, kChunkDataBytes, position);
        if (length == 0) break;
        if (!commands_.programChunk(position, chunk, length)) return false;
        addProgress(job_.flash.bytesConsumed() - consumed);
        consumed = job_.flash.bytesConsumed();
    }
    return commands_.endImage();
}

bool UpdateRun::factoryDefaultsStage() {
    postStatus(job_.window, uiString(kFactoryDefaults), true);
    if (!commands_.factoryDefaults()) return false;
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
    commands_.close();
    return !commands_.stopped();
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
    postStatus(job_.window, uiString(kInitializing), true);
    job_.nothingToSend = !imagesWorthSending();
    if (job_.nothingToSend || stopRequested()) {
        post(job_.window, WMU_UPDATE_FAILED);
        return WMU_UPDATE_FAILED;
    }
    job_.engine.openTransport();

    const Identity identity = identifyBootloader(commands_);
    if (identity == Identity::kNoReply || identity == Identity::kWrong) {
        const uint32_t result = identity == Identity::kNoReply ? WMU_NO_RESPONSE : WMU_WRONG_RESPONSE;
        post(job_.window, result);
        job_.engine.closeTransport();
        return result;
    }
    commands_.setSequenced(identity == Identity::kSequenced);
    uint32_t unusedVersion = 0;
    commands_.applicationVersion(unusedVersion);

    platform::sendWindowMessage(job_.window, {WMU_PROGRESS_RANGE, 0, static_cast<intptr_t>(progressTotal()), {}});
    progressDone_ = 0;
    // A frame that cannot be accounted for, even one after the last reply, leaves the memory
    // unproven: that is no success.
    const bool completed = runStages() && !job_.engine.repliesInDoubt();
    const uint32_t result = completed ? WMU_UPDATE_DONE : WMU_UPDATE_FAILED;
    job_.stopped = commands_.stopped();
    job_.repliesInDoubt = job_.engine.repliesInDoubt();
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

uint32_t runExitBootload(BootloaderEngine& engine, platform::WindowHandle window, std::unique_ptr<Transport> transport,
                         LeaveScope scope) {
    engine.setTransport(std::move(transport));
    engine.openTransport();
    BootloaderCommands commands(engine);
    const Identity identity = identifyBootloader(commands, scope == LeaveScope::kAnyVersion);
    uint32_t result = WMU_BOOTLOAD_EXITED;
    if (identity == Identity::kNoReply) {
        result = WMU_NO_RESPONSE;
    } else if (identity == Identity::kWrong) {
        result = WMU_WRONG_RESPONSE;
    } else {
        commands.setSequenced(identity == Identity::kSequenced);
        commands.leave();
    }
    engine.closeTransport();
    post(window, result);
    return result;
}

void bootload_thread(BootloadRequest* request) {
    UpdateJob job{bootloaderEngine, applicationImage, flashImage,
                  updateOptions,    request->window,  unitProperties.getOrEmpty(L"server-fw-version")};
    job.stopRequested = request->stopRequested;
    runUpdate(job, std::move(request->transport));
    platform::sleepMs(kEndOfRunPauseMs);
}

void exit_bootload_thread(BootloadRequest* request) {
    runExitBootload(bootloaderEngine, request->window, std::move(request->transport));
    platform::sleepMs(kEndOfRunPauseMs);
}
