// Run logs: stamped lines to standard error and a file, and the engine events that become them.
#include "cli/run_log.h"

#include "platform/clock.h"
#include "platform/files.h"

namespace {

std::string commandText(uint8_t command) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", command);
    return text;
}

}  // namespace

bool RunLog::open(bool toStandardError, const std::string& logPath, std::string& error) {
    toStandardError_ = toStandardError;
    startTick_ = platform::tickCount();
    if (logPath.empty()) return true;
    file_ = platform::openFile(logPath, "a");
    if (file_) return true;
    error = "--log " + logPath + ": cannot be written";
    return false;
}

RunLog::~RunLog() {
    if (file_) std::fclose(file_);
}

void RunLog::line(const std::string& unit, const std::string& text) {
    if (!active()) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f] ", platform::ticksBetween(startTick_, platform::tickCount()) / 1000.0);
    const std::string whole = stamp + unit + ": " + text + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    if (toStandardError_) std::fputs(whole.c_str(), stderr);
    if (file_) {
        std::fputs(whole.c_str(), file_);
        std::fflush(file_);
    }
}

void UnitLogObserver::resent(uint8_t command, uint16_t sendNumber) {
    log_.line(unit_, "command " + commandText(command) + " sent again (send " + std::to_string(sendNumber) + ")");
}

void UnitLogObserver::timedOut(uint8_t command) {
    log_.line(unit_, "command " + commandText(command) + " timed out: no accepted reply after every attempt");
}

void UnitLogObserver::staleFrame(uint8_t command, uint8_t frameCommand) {
    log_.line(unit_, "dropped a frame of command " + commandText(frameCommand) + " while waiting for " +
                         commandText(command) + " (stale or foreign)");
}

std::string countsText(const EngineCounters& counts) {
    return "requests " + std::to_string(counts.requests) + ", resends " + std::to_string(counts.resends) +
           ", time-outs " + std::to_string(counts.timeouts) + ", stale frames " + std::to_string(counts.staleFrames);
}
