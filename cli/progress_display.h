// Progress of update runs: one redrawn bar per unit on a terminal, plain lines otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window_messages.h"

// "[#####.....]" of `width` cells, `fraction` clamped to 0..1.
std::string progressBar(double fraction, int width);
// "1:05" (minutes and seconds), "1:02:03" past an hour, "--:--" when unknown (negative).
std::string formatDuration(double seconds);

class ProgressDisplay {
public:
    enum class Mode { kSilent, kBars, kLines };

    ProgressDisplay(Mode mode, std::vector<std::string> labels);

    // Takes the run's status, range and position messages; others are ignored.
    void onMessage(size_t unit, const platform::WindowMessage& message);
    void onFinished(size_t unit, const std::string& result);
    // Redraws the bars, at most every 100 ms unless forced.
    void refresh(bool force = false);

    // One unit's bar line (no line end), for a given moment; public for tests.
    std::string barLine(size_t unit, uint32_t nowTick, int columns) const;

private:
    struct Unit {
        std::string label;
        std::string stage;
        std::string result;
        uint32_t range = 0;
        uint32_t position = 0;
        uint32_t rangeTick = 0;
        // Where the current stage began, for its own rate.
        uint32_t stagePosition = 0;
        uint32_t stageTick = 0;
        int lastTenth = -1;
    };

    void printPlainProgress(Unit& unit);
    std::string rateText(const Unit& unit, uint32_t nowTick) const;
    double secondsLeft(const Unit& unit, uint32_t nowTick) const;

    Mode mode_;
    std::vector<Unit> units_;
    size_t labelWidth_ = 0;
    bool drawn_ = false;
    uint32_t lastDrawTick_ = 0;
};
