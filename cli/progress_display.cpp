// Drawing the progress of several units at once.
#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "ui/worker_messages.h"

namespace {

constexpr uint32_t kRedrawMs = 100;
// A stage's time per request means something after this many requests and this long.
constexpr uint32_t kFirstEstimateRequests = 10;
constexpr uint32_t kFirstEstimateMs = 1000;
// Piped output gets a line at each tenth and at least this often while a stage moves.
constexpr uint32_t kPlainLineMs = 5000;
constexpr int kLabelColumns = 24;
constexpr int kStageColumns = 22;
constexpr int kTailColumns = 32;
constexpr int kNarrowestBar = 6;

std::string fitted(std::string text, size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// A stage name that fits its column, shortened by words rather than cut mid-word where it can.
std::string stageColumnText(std::string stage) {
    const size_t width = kStageColumns;
    if (stage.size() > width) replaceAll(stage, "Waiting for the ", "Awaiting ");
    if (stage.size() > width) replaceAll(stage, " the ", " ");
    if (stage.size() > width) stage = stage.substr(0, width - 1) + ".";
    return stage;
}

platform::ConsoleStream streamOf(std::FILE* out) {
    return out == stderr ? platform::ConsoleStream::kError : platform::ConsoleStream::kOutput;
}

}  // namespace

std::string progressBar(double fraction, int width) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int cells = std::max(width - 2, 0);
    const int filled = static_cast<int>(fraction * cells + 0.5);
    // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) on chained concatenation.
    std::string bar;
    bar.reserve(static_cast<size_t>(cells) + 2);
    bar += '[';
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(cells - filled), '.');
    bar += ']';
    return bar;
}

std::string formatDuration(double seconds) {
    if (seconds < 0) return "--:--";
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

ProgressDisplay::ProgressDisplay(Mode mode, std::vector<std::string> labels, std::FILE* out, unsigned jobs)
    : mode_(mode), out_(out), jobs_(jobs) {
    for (std::string& label : labels) {
        labelWidth_ = std::max(labelWidth_, label.size());
        Unit unit;
        unit.label = std::move(label);
        units_.push_back(std::move(unit));
    }
    labelWidth_ = std::min<size_t>(labelWidth_, kLabelColumns);
    const platform::ConsoleStream stream = streamOf(out_);
    if (mode_ == Mode::kBars && !platform::enableTerminalControls(stream)) mode_ = Mode::kLines;
}

void ProgressDisplay::attachLog(RunLog& log) {
    if (mode_ != Mode::kBars) return;
    log_ = &log;
    log.holdStandardError(true);
}

void ProgressDisplay::finish() {
    refresh(true);
    if (log_) log_->holdStandardError(false);
    log_ = nullptr;
}

void ProgressDisplay::setPlan(size_t unit, const UnitPlan& plan) {
    if (unit < units_.size()) units_[unit].plan = plan;
}

// A reader that went away (`| head -1`) ends the display, never the run.
bool ProgressDisplay::outputClosed() {
    if (!std::ferror(out_)) return false;
    mode_ = Mode::kSilent;
    return true;
}

void ProgressDisplay::onMessage(size_t unit, const platform::WindowMessage& message) {
    onMessageAt(unit, message, platform::tickCount());
}

void ProgressDisplay::onMessageAt(size_t unit, const platform::WindowMessage& message, uint32_t nowTick) {
    if (unit >= units_.size()) return;
    Unit& u = units_[unit];
    if (!u.started) {
        u.started = true;
        u.startTick = nowTick;
    }
    switch (message.id) {
        case WMU_STATUS_TEXT:
            u.stage = platform::toUtf8(message.text);
            u.kind = static_cast<RunStage>(message.wParam);
            u.stageRequests = 0;
            u.stageTick = nowTick;
            u.stagePosition = u.position;
            if (mode_ == Mode::kLines && !outputClosed()) {
                std::fprintf(out_, "%s: %s\n", u.label.c_str(), u.stage.c_str());
                std::fflush(out_);
            }
            break;
        case WMU_PROGRESS_RANGE:
            u.range = static_cast<uint32_t>(message.lParam);
            u.position = 0;
            u.stagePosition = 0;
            break;
        case WMU_PROGRESS_POS:
            u.position = static_cast<uint32_t>(message.wParam);
            if (u.stageRequests++ == 0) u.firstRequestTick = nowTick;
            u.lastRequestTick = nowTick;
            if (mode_ == Mode::kLines) printPlainProgress(u, nowTick);
            break;
        default: break;
    }
}

void ProgressDisplay::printPlainProgress(Unit& unit, uint32_t nowTick) {
    if (unit.range == 0 || outputClosed()) return;
    const int tenth = static_cast<int>(10.0 * unit.position / unit.range);
    if (tenth == unit.lastTenth && platform::ticksBetween(unit.lastLineTick, nowTick) < kPlainLineMs) return;
    unit.lastTenth = tenth;
    unit.lastLineTick = nowTick;
    const size_t index = static_cast<size_t>(&unit - units_.data());
    const double left = secondsLeft(index, nowTick);
    if (left < 0) {
        std::fprintf(out_, "%s: %d%%\n", unit.label.c_str(), percent(index));
    } else {
        std::fprintf(out_, "%s: %d%% (%s left)\n", unit.label.c_str(), percent(index), formatDuration(left).c_str());
    }
    std::fflush(out_);
}

void ProgressDisplay::onFinished(size_t unit, RunResult result) { onFinishedAt(unit, result, platform::tickCount()); }

void ProgressDisplay::onFinishedAt(size_t unit, RunResult result, uint32_t nowTick) {
    if (unit < units_.size()) {
        units_[unit].result = result;
        units_[unit].finishTick = nowTick;
    }
    refresh(true);
}

void ProgressDisplay::onRetry(size_t unit) {
    if (unit >= units_.size()) return;
    Unit fresh;
    fresh.label = units_[unit].label;
    fresh.plan = units_[unit].plan;
    units_[unit] = std::move(fresh);
}

void ProgressDisplay::stopDrawing() {
    if (log_) log_->holdStandardError(false);
    log_ = nullptr;
    mode_ = Mode::kSilent;
}

int ProgressDisplay::percent(size_t unit) const {
    const Unit& u = units_[unit];
    return u.range ? static_cast<int>(100.0 * std::min(u.position, u.range) / u.range) : 0;
}

uint32_t ProgressDisplay::stageRequestsPlanned(size_t unit) const {
    const Unit& u = units_[unit];
    if (u.kind == RunStage::kApplication) return u.plan.programRequests;
    return u.kind == RunStage::kFlash ? u.plan.flashChunks : 0;
}

std::string ProgressDisplay::rateText(const Unit& unit, uint32_t nowTick) const {
    const double seconds = platform::ticksBetween(unit.stageTick, nowTick) / 1000.0;
    if (seconds < 0.2 || unit.position <= unit.stagePosition) return "";
    const double perSecond = (unit.position - unit.stagePosition) / seconds;
    char text[32];
    if (unit.kind == RunStage::kApplication) {
        std::snprintf(text, sizeof text, "%.0f rec/s", perSecond);
    } else if (unit.kind == RunStage::kFlash) {
        std::snprintf(text, sizeof text, "%.1f kB/s", perSecond / 1000);
    } else {
        return "";
    }
    return text;
}

double ProgressDisplay::secondsLeft(size_t index, uint32_t nowTick) const {
    const Unit& u = units_[index];
    if (u.kind == RunStage::kOther || u.stageRequests < kFirstEstimateRequests ||
        platform::ticksBetween(u.firstRequestTick, nowTick) < kFirstEstimateMs) {
        return -1;
    }
    const double perRequest =
        platform::ticksBetween(u.firstRequestTick, u.lastRequestTick) / 1000.0 / (u.stageRequests - 1);
    const bool inApplication = u.kind == RunStage::kApplication;
    const uint32_t stageTotal = stageRequestsPlanned(index);
    double left = perRequest * (stageTotal > u.stageRequests ? stageTotal - u.stageRequests : 0);
    if (inApplication && u.plan.flashChunks > 0) {
        const double scale = u.plan.serial && u.plan.programRequestBytes > 0
                                 ? u.plan.chunkRequestBytes / u.plan.programRequestBytes
                                 : 1.0;
        left += perRequest * scale * u.plan.flashChunks;
    }
    return left;
}

std::string ProgressDisplay::barLine(size_t index, uint32_t nowTick, int columns) const {
    const Unit& u = units_[index];
    const double fraction = u.range ? static_cast<double>(std::min(u.position, u.range)) / u.range : 0.0;
    char tail[96];
    const bool waiting = !u.result && notStarted(u);
    if (u.result || waiting) {
        std::snprintf(tail, sizeof tail, " %3d%%  %-*.*s", percent(index), kTailColumns - 7, kTailColumns - 7,
                      waiting ? "waiting" : jsonName(*u.result));
    } else {
        std::snprintf(tail, sizeof tail, " %3d%%  %-11s  %5s left", percent(index), rateText(u, nowTick).c_str(),
                      formatDuration(secondsLeft(index, nowTick)).c_str());
    }
    char head[160];
    std::snprintf(head, sizeof head, "%-*.*s  %-*.*s  ", static_cast<int>(labelWidth_), static_cast<int>(labelWidth_),
                  u.label.c_str(), kStageColumns, kStageColumns, !u.result ? stageColumnText(u.stage).c_str() : "");
    const int barWidth =
        std::clamp(columns - static_cast<int>(labelWidth_) - kStageColumns - 4 - kTailColumns - 1, kNarrowestBar, 50);
    std::string line = head;
    line += progressBar(fraction, barWidth);
    line += tail;
    return fitted(std::move(line), static_cast<size_t>(std::max(columns - 1, 20)));
}

ProgressDisplay::Tally ProgressDisplay::tally() const {
    Tally t;
    for (const Unit& u : units_) {
        if (u.result) {
            ++(isSuccess(*u.result) ? t.succeeded : t.failed);
        } else if (notStarted(u)) {
            ++t.waiting;
        } else {
            ++t.running;
        }
    }
    return t;
}

// What one unit's run takes: the finished units' mean, else the running ones' estimates.
double ProgressDisplay::secondsPerUnit(uint32_t nowTick) const {
    double sum = 0;
    size_t counted = 0;
    for (const Unit& u : units_) {
        if (!u.result || !u.started) continue;
        sum += platform::ticksBetween(u.startTick, u.finishTick) / 1000.0;
        ++counted;
    }
    if (counted > 0) return sum / counted;
    for (size_t i = 0; i < units_.size(); ++i) {
        const double left = !units_[i].result ? secondsLeft(i, nowTick) : -1;
        if (left < 0) continue;
        sum += platform::ticksBetween(units_[i].startTick, nowTick) / 1000.0 + left;
        ++counted;
    }
    return counted > 0 ? sum / counted : -1;
}

// The running units' time left, and the waiting ones at the time per unit, shared among as
// many units as run at once.
double ProgressDisplay::fleetSecondsLeft(uint32_t nowTick) const {
    const double perUnit = secondsPerUnit(nowTick);
    if (perUnit < 0) return -1;
    double total = 0;
    double longest = 0;
    size_t unfinished = 0;
    for (size_t i = 0; i < units_.size(); ++i) {
        const Unit& u = units_[i];
        if (u.result) continue;
        const bool waiting = notStarted(u);
        double left = waiting ? perUnit : secondsLeft(i, nowTick);
        if (left < 0) left = std::max(perUnit - platform::ticksBetween(u.startTick, nowTick) / 1000.0, 0.0);
        total += left;
        ++unfinished;
        if (!waiting) longest = std::max(longest, left);
    }
    const size_t atOnce = jobs_ > 0 ? std::min<size_t>(jobs_, unfinished) : unfinished;
    return std::max(longest, total / static_cast<double>(std::max<size_t>(atOnce, 1)));
}

std::string ProgressDisplay::summaryLine(size_t shown, uint32_t nowTick, int columns) const {
    const Tally t = tally();
    char text[192];
    std::string line;
    if (shown < units_.size()) line = "... " + std::to_string(units_.size() - shown) + " more not shown; ";
    std::snprintf(text, sizeof text, "all %zu units: %zu running, %zu updated, %zu not, %zu waiting", units_.size(),
                  t.running, t.succeeded, t.failed, t.waiting);
    line += text;
    if (t.running + t.waiting > 0) {
        const double left = fleetSecondsLeft(nowTick);
        line += left < 0 ? "; time left not known yet" : "; about " + formatDuration(left) + " left";
    }
    return fitted(line, static_cast<size_t>(std::max(columns - 1, 20)));
}

std::vector<std::string> ProgressDisplay::frame(uint32_t nowTick, int columns, int rows) const {
    std::vector<std::string> lines;
    if (units_.size() == 1) return {barLine(0, nowTick, columns)};
    const size_t room = static_cast<size_t>(std::max(rows - 1, 2));
    if (units_.size() < room) {
        for (size_t i = 0; i < units_.size(); ++i) lines.push_back(barLine(i, nowTick, columns));
    } else {
        // Unfinished units first, in order; finished ones fill what room is left.
        for (int pass = 0; pass < 2 && lines.size() < room - 1; ++pass) {
            for (size_t i = 0; i < units_.size() && lines.size() < room - 1; ++i) {
                if (!units_[i].result == (pass == 0)) lines.push_back(barLine(i, nowTick, columns));
            }
        }
    }
    lines.push_back(summaryLine(lines.size(), nowTick, columns));
    return lines;
}

// Log lines go above the live block: the block is erased, the lines written where it stood,
// and the block drawn again below them.
void ProgressDisplay::writeHeldLogLines(std::string& redraw) {
    if (!log_) return;
    const std::vector<std::string> held = log_->takeHeld();
    if (held.empty()) return;
    redraw += "\r\x1b[J";
    std::fputs(redraw.c_str(), out_);
    std::fflush(out_);
    for (const std::string& line : held) std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    redraw.clear();
    drawnLines_ = 0;
}

void ProgressDisplay::refresh(bool force) {
    if (mode_ != Mode::kBars || outputClosed()) return;
    const uint32_t now = platform::tickCount();
    if (!force && drawn_ && platform::ticksBetween(lastDrawTick_, now) < kRedrawMs) return;
    lastDrawTick_ = now;
    const platform::ConsoleStream stream = streamOf(out_);
    const std::vector<std::string> lines =
        frame(now, platform::terminalColumns(stream), platform::terminalRows(stream));
    // Back to the first line drawn last time, then every line redrawn and cleared to its end;
    // lines left over from a taller frame are cleared too.
    std::string redraw;
    if (drawn_ && drawnLines_ > 0) redraw = "\x1b[" + std::to_string(drawnLines_) + "A";
    writeHeldLogLines(redraw);
    for (const std::string& line : lines) redraw += "\r" + line + "\x1b[K\n";
    for (size_t i = lines.size(); i < drawnLines_; ++i) redraw += "\r\x1b[K\n";
    drawnLines_ = std::max(drawnLines_, lines.size());
    std::fputs(redraw.c_str(), out_);
    std::fflush(out_);
    drawn_ = true;
}
