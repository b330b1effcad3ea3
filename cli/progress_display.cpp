// Drawing the progress of several units at once.
#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

namespace {

constexpr uint32_t kRedrawMs = 100;
constexpr unsigned kApplicationStage = 128;
constexpr unsigned kFlashStage = 130;

// The status line carries "Progress: %s"; the bar shows only the stage.
std::string stageOf(const std::wstring& statusLine) {
    const std::wstring prefix = formatStatus(L"");
    if (statusLine.rfind(prefix, 0) == 0) return platform::toUtf8(statusLine.substr(prefix.size()));
    return platform::toUtf8(statusLine);
}

std::string fitted(std::string text, size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
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

ProgressDisplay::ProgressDisplay(Mode mode, std::vector<std::string> labels) : mode_(mode) {
    for (std::string& label : labels) {
        labelWidth_ = std::max(labelWidth_, label.size());
        units_.push_back(Unit{std::move(label), {}, {}, 0, 0, 0, 0, 0, -1});
    }
    if (mode_ == Mode::kBars && !platform::enableTerminalControls()) mode_ = Mode::kLines;
}

void ProgressDisplay::onMessage(size_t unit, const platform::WindowMessage& message) {
    if (unit >= units_.size()) return;
    Unit& u = units_[unit];
    const uint32_t now = platform::tickCount();
    switch (message.id) {
        case WMU_STATUS_TEXT:
            u.stage = stageOf(message.text);
            u.stagePosition = u.position;
            u.stageTick = now;
            if (mode_ == Mode::kLines) std::printf("%s: %s\n", u.label.c_str(), u.stage.c_str());
            break;
        case WMU_PROGRESS_RANGE:
            u.range = static_cast<uint32_t>(message.lParam);
            u.position = 0;
            u.rangeTick = now;
            u.stagePosition = 0;
            u.stageTick = now;
            break;
        case WMU_PROGRESS_POS:
            u.position = static_cast<uint32_t>(message.wParam);
            if (mode_ == Mode::kLines) printPlainProgress(u);
            break;
        default: break;
    }
}

void ProgressDisplay::printPlainProgress(Unit& unit) {
    if (unit.range == 0) return;
    const int tenth = static_cast<int>(10.0 * unit.position / unit.range);
    if (tenth == unit.lastTenth) return;
    unit.lastTenth = tenth;
    std::printf("%s: %d%%\n", unit.label.c_str(), tenth * 10);
    std::fflush(stdout);
}

void ProgressDisplay::onFinished(size_t unit, const std::string& result) {
    if (unit < units_.size()) units_[unit].result = result;
    refresh(true);
}

std::string ProgressDisplay::rateText(const Unit& unit, uint32_t nowTick) const {
    const double seconds = platform::ticksBetween(unit.stageTick, nowTick) / 1000.0;
    if (seconds < 0.2 || unit.position <= unit.stagePosition) return "";
    const double perSecond = (unit.position - unit.stagePosition) / seconds;
    char text[32];
    if (unit.stage == platform::toUtf8(uiString(kApplicationStage))) {
        std::snprintf(text, sizeof text, "%.0f rec/s", perSecond);
    } else if (unit.stage == platform::toUtf8(uiString(kFlashStage))) {
        std::snprintf(text, sizeof text, "%.1f kB/s", perSecond / 1000);
    } else {
        return "";
    }
    return text;
}

// From the whole run's pace so far: stages differ in speed, so this is a rough guide.
double ProgressDisplay::secondsLeft(const Unit& unit, uint32_t nowTick) const {
    const double seconds = platform::ticksBetween(unit.rangeTick, nowTick) / 1000.0;
    if (unit.range == 0 || unit.position == 0 || seconds < 0.5) return -1;
    return seconds * (unit.range - std::min(unit.position, unit.range)) / unit.position;
}

std::string ProgressDisplay::barLine(size_t index, uint32_t nowTick, int columns) const {
    const Unit& u = units_[index];
    const double fraction = u.range ? static_cast<double>(u.position) / u.range : 0.0;
    char tail[96];
    if (!u.result.empty()) {
        std::snprintf(tail, sizeof tail, " %3d%%  %s", static_cast<int>(fraction * 100), u.result.c_str());
    } else {
        std::snprintf(tail, sizeof tail, " %3d%%  %-11s  %s left", static_cast<int>(fraction * 100),
                      rateText(u, nowTick).c_str(), formatDuration(secondsLeft(u, nowTick)).c_str());
    }
    char head[160];
    std::snprintf(head, sizeof head, "%-*s  %-18.18s  ", static_cast<int>(labelWidth_), u.label.c_str(), u.stage.c_str());
    const int barWidth = std::clamp(columns - static_cast<int>(std::strlen(head) + std::strlen(tail)) - 1, 10, 50);
    std::string line = head;
    line += progressBar(fraction, barWidth);
    line += tail;
    return fitted(std::move(line), static_cast<size_t>(std::max(columns - 1, 20)));
}

void ProgressDisplay::refresh(bool force) {
    if (mode_ != Mode::kBars) return;
    const uint32_t now = platform::tickCount();
    if (!force && drawn_ && platform::ticksBetween(lastDrawTick_, now) < kRedrawMs) return;
    lastDrawTick_ = now;
    const int columns = platform::terminalColumns();
    // Back to the first bar, then every line redrawn and cleared to its end.
    if (drawn_) std::printf("\x1b[%zuA", units_.size());
    for (size_t i = 0; i < units_.size(); ++i) std::printf("\r%s\x1b[K\n", barLine(i, now, columns).c_str());
    std::fflush(stdout);
    drawn_ = true;
}
