// The portable message queue behind WindowHandle.
#include <chrono>

#include "platform/window_messages.h"

namespace platform {

bool postWindowMessage(WindowHandle window, WindowMessage message) {
    return window ? window->post(std::move(message)) : false;
}

intptr_t sendWindowMessage(WindowHandle window, WindowMessage message) {
    return window ? window->send(std::move(message)) : 0;
}

bool MessageQueue::post(WindowMessage message) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Entry{std::move(message), nextSerial_++, false});
    }
    arrived_.notify_one();
    return true;
}

intptr_t MessageQueue::send(WindowMessage message) {
    std::unique_lock lock(mutex_);
    uint64_t serial = nextSerial_++;
    queue_.push_back(Entry{std::move(message), serial, true});
    arrived_.notify_one();
    completed_.wait(lock, [&] { return lastCompleted_ >= serial; });
    return lastResult_;
}

bool MessageQueue::receive(WindowMessage& out, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    completeCurrentLocked(0);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty(); })) {
        return false;
    }
    Entry entry = std::move(queue_.front());
    queue_.pop_front();
    if (entry.sent) inHandling_ = entry.serial;
    out = std::move(entry.message);
    return true;
}

void MessageQueue::handled(intptr_t result) {
    std::lock_guard lock(mutex_);
    completeCurrentLocked(result);
}

size_t MessageQueue::pending() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void MessageQueue::completeCurrentLocked(intptr_t result) {
    if (inHandling_ == 0) return;
    lastCompleted_ = inHandling_;
    lastResult_ = result;
    inHandling_ = 0;
    completed_.notify_all();
}

}  // namespace platform
