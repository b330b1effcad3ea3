// Progress of update runs: redrawn bars on a terminal (within its height), plain lines
// otherwise (at each tenth and at least every few seconds), and the time left worked out from
// each stage's measured time per request.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/run_log.h"
#include "cli/run_result.h"
#include "platform/window_messages.h"
#include "ui/worker_messages.h"

// "[#####.....]" of `width` cells, `fraction` clamped to 0..1.
std::string progressBar(double fraction, int width);
// "1:05" (minutes and seconds), "1:02:03" past an hour, "--:--" when unknown (negative).
std::string formatDuration(double seconds);

// What a unit's run will send, so the time left counts requests rather than bytes.
struct UnitPlan {
    uint32_t programRequests = 0;  // application stage (0: not run)
    uint32_t flashChunks = 0;      // flash stage (0: not run)
    // Bytes a program request and a chunk request put on the line: on a serial line a request
    // costs about its bytes, over UDP about one turnaround whatever its size.
    double programRequestBytes = 0;
    double chunkRequestBytes = 0;
    bool serial = false;
};

class ProgressDisplay {
public:
    enum class Mode { kSilent, kBars, kLines };

    // The bars and lines go to out (standard output, or standard error beside --json); jobs is
    // how many units run at once (0: all).
    ProgressDisplay(Mode mode, std::vector<std::string> labels, std::FILE* out = stdout, unsigned jobs = 0);

    // While the bars are drawn, the log's lines for standard error are written above them.
    void attachLog(RunLog& log);
    // The last redraw, then the log writes its lines itself again.
    void finish();

    void setPlan(size_t unit, const UnitPlan& plan);
    // Takes the run's status, range and position messages; others are ignored.
    void onMessage(size_t unit, const platform::WindowMessage& message);
    void onMessageAt(size_t unit, const platform::WindowMessage& message, uint32_t nowTick);
    void onFinished(size_t unit, RunResult result);
    void onFinishedAt(size_t unit, RunResult result, uint32_t nowTick);
    // The unit waits for another attempt: back to no stage, no progress and no result.
    void onRetry(size_t unit);
    // Redraws the bars, at most every 100 ms unless forced.
    void refresh(bool force = false);
    // Leaves the bars as they stand, so the lines about stopping read below them.
    void stopDrawing();

    // Where a unit is: its current stage ("Server UI") and how far the whole run has come.
    const std::string& stage(size_t unit) const { return units_[unit].stage; }
    int percent(size_t unit) const;
    // The current stage's kind, the requests it has had answered and the ones it sends in all
    // (0 for a stage without a plan).
    RunStage stageKind(size_t unit) const { return units_[unit].kind; }
    uint32_t stageRequestsDone(size_t unit) const { return units_[unit].stageRequests; }
    uint32_t stageRequestsPlanned(size_t unit) const;
    // Seconds the run still needs: the current stage's requests left at their measured time
    // each, and the later stages' requests at that time scaled by their size on a serial line.
    // Negative until the stage has run long enough for the figure to mean something.
    double secondsLeft(size_t unit, uint32_t nowTick) const;

    // One unit's bar line (no line end); the bar's width depends only on the columns.
    std::string barLine(size_t unit, uint32_t nowTick, int columns) const;
    // One redraw: a line a unit while they fit in rows - 1, otherwise the unfinished units that
    // fit; with several units, one line sums them up with the time the whole run has left.
    std::vector<std::string> frame(uint32_t nowTick, int columns, int rows) const;

private:
    struct Unit {
        std::string label;
        std::string stage;
        RunStage kind = RunStage::kOther;
        std::optional<RunResult> result;
        UnitPlan plan;
        uint32_t range = 0;
        uint32_t position = 0;
        // Requests answered in the current stage, the first and the latest one's time.
        uint32_t stageRequests = 0;
        uint32_t firstRequestTick = 0;
        uint32_t lastRequestTick = 0;
        uint32_t stageTick = 0;
        uint32_t stagePosition = 0;
        int lastTenth = -1;
        uint32_t lastLineTick = 0;
        // The run's first message and its result, for the time a unit takes.
        bool started = false;
        uint32_t startTick = 0;
        uint32_t finishTick = 0;
    };

    // Waiting for its turn: no stage, no progress yet.
    static bool notStarted(const Unit& unit) { return unit.stage.empty() && unit.range == 0; }

    struct Tally {
        size_t running = 0, waiting = 0, succeeded = 0, failed = 0;
    };

    void printPlainProgress(Unit& unit, uint32_t nowTick);
    std::string rateText(const Unit& unit, uint32_t nowTick) const;
    std::string summaryLine(size_t shown, uint32_t nowTick, int columns) const;
    Tally tally() const;
    double secondsPerUnit(uint32_t nowTick) const;
    double fleetSecondsLeft(uint32_t nowTick) const;
    void writeHeldLogLines(std::string& redraw);
    bool outputClosed();

    Mode mode_;
    std::FILE* out_;
    unsigned jobs_;
    RunLog* log_ = nullptr;
    std::vector<Unit> units_;
    size_t labelWidth_ = 0;
    size_t drawnLines_ = 0;
    bool drawn_ = false;
    uint32_t lastDrawTick_ = 0;
};
