// Progress positions coalesced to one waiting message.
#include "ui/coalescing_progress_sink.h"

#include <utility>

#include "ui/worker_messages.h"

bool CoalescingProgressSink::post(platform::WindowMessage message) {
    if (message.id != WMU_PROGRESS_POS) return target_.post(std::move(message));
    latest_.store(static_cast<uint32_t>(message.wParam));
    if (waiting_.exchange(true)) return true;
    if (target_.post(std::move(message))) return true;
    waiting_.store(false);
    return false;
}

intptr_t CoalescingProgressSink::send(platform::WindowMessage message) { return target_.send(std::move(message)); }

uint32_t CoalescingProgressSink::takePosition() {
    // Cleared before the read: a position stored after the read finds the flag clear and posts.
    waiting_.store(false);
    return latest_.load();
}
