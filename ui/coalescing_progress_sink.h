// A sink in front of a window's own that keeps at most one WMU_PROGRESS_POS waiting in the
// window's queue: an update reports every request, far more often than a window can draw, and
// a queue full of positions holds back the close question, the keyboard and the menus.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/window_messages.h"

class CoalescingProgressSink : public platform::MessageSink {
public:
    explicit CoalescingProgressSink(platform::MessageSink& target) : target_(target) {}

    // A position is kept as the latest one; it reaches the target only when no position
    // message is waiting there. Every other message passes as it is.
    bool post(platform::WindowMessage message) override;
    intptr_t send(platform::WindowMessage message) override;

    // The receiver, for the waiting position message: the latest position. The next position
    // posted after this call reaches the target again.
    uint32_t takePosition();

private:
    platform::MessageSink& target_;
    std::atomic<uint32_t> latest_{0};
    std::atomic<bool> waiting_{false};
};
