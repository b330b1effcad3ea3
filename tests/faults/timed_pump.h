// A window's view of a worker run, with the arrival time of every message, and the process's
// peak resident memory.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "platform/window_messages.h"

using SteadyClock = std::chrono::steady_clock;

struct TimedMessage {
    platform::WindowMessage message;
    SteadyClock::time_point when;
};

// Runs work on a thread and receives its messages until it ends, or until `limit` has passed
// (then work is still joined, so work itself must end). onMessage sees each message as it comes.
std::vector<TimedMessage> pumpTimed(platform::MessageQueue& queue, const std::function<void()>& work,
                                    std::chrono::milliseconds limit,
                                    const std::function<void(const TimedMessage&)>& onMessage = {});

// Milliseconds from the message before the terminal one to the terminal one: how long the run
// took to give up after the unit stopped answering.
long long msBeforeTerminal(const std::vector<TimedMessage>& messages);

// The process's peak resident set in kilobytes (VmHWM), 0 when it cannot be read.
long peakResidentKb();
