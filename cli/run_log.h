// What an installer or a support desk needs from a run: each stage's start and time, every
// resend, time-out and dropped frame, and each unit's counts at the end. Lines go to standard
// error with -v and to the --log file; each line is written whole under a lock, since the
// engines report from their own threads.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "bootloader/bootloader_engine.h"

class RunLog {
public:
    // Copies of the lines go to standard error when toStandardError, and to the file at
    // logPath when it is not empty, appended. False from open, with the reason, when the file
    // cannot be written; a FIFO that no program reads is refused at once rather than waited on.
    bool open(bool toStandardError, const std::string& logPath, std::string& error);
    // Closes the file; false, with "--log FILE: ...: REASON" in error, when a line could not be
    // written to it (a full disk, a reader that went away), so the log is incomplete.
    bool close(std::string& error);
    ~RunLog();

    bool active() const { return toStandardError_ || file_; }
    // "[  12.345] 192.0.2.10: text", the time from the log's opening.
    void line(const std::string& unit, const std::string& text);
    // While held, lines for standard error wait for takeHeld, so that a live display can write
    // them above itself; letting go writes what is still held.
    void holdStandardError(bool hold);
    std::vector<std::string> takeHeld();

private:
    std::mutex mutex_;
    bool toStandardError_ = false;
    bool holding_ = false;
    std::vector<std::string> held_;
    std::FILE* file_ = nullptr;
    std::string path_;
    // Why the first line that did not reach the file failed; empty while all did.
    std::string writeError_;
    uint32_t startTick_ = 0;
};

// One unit's engine events as log lines, on the engine's thread.
class UnitLogObserver : public EngineObserver {
public:
    UnitLogObserver(RunLog& log, std::string unit) : log_(log), unit_(std::move(unit)) {}
    void resent(uint8_t command, uint16_t sendNumber) override;
    void timedOut(uint8_t command) override;
    void staleFrame(uint8_t command, uint8_t frameCommand) override;

private:
    RunLog& log_;
    std::string unit_;
};

// "requests 812, resends 3, time-outs 0, stale frames 1".
std::string countsText(const EngineCounters& counts);
