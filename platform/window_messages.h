// Window messages from worker threads to the thread that owns a window.
//
// A worker never calls into a user interface; it posts (or, for a few messages, sends) a
// WindowMessage to a WindowHandle. On Windows the handle wraps an HWND (PostMessageW and
// SendMessageW); elsewhere, and in tests on every platform, it is a MessageQueue that the
// receiving thread drains in arrival order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace platform {

struct WindowMessage {
    uint32_t id = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    // A text that travels with the message, owned by it (the status line, for one).
    std::wstring text;
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Queues the message and returns at once; false when it could not be delivered.
    virtual bool post(WindowMessage message) = 0;
    // Delivers the message and returns after the receiver has handled it.
    virtual intptr_t send(WindowMessage message) = 0;
};

using WindowHandle = MessageSink*;

bool postWindowMessage(WindowHandle window, WindowMessage message);
intptr_t sendWindowMessage(WindowHandle window, WindowMessage message);

// Thread-safe queue of messages owned by the receiving thread.
class MessageQueue : public MessageSink {
public:
    bool post(WindowMessage message) override;
    // Blocks until the receiver has called handled() for this message (or a later receive).
    intptr_t send(WindowMessage message) override;

    // Takes the oldest message, waiting up to timeoutMs; false when none came.
    bool receive(WindowMessage& out, uint32_t timeoutMs);
    // Ends the handling of the last received message; a sender waiting on it resumes.
    void handled(intptr_t result = 0);
    size_t pending();

private:
    struct Entry {
        WindowMessage message;
        uint64_t serial = 0;
        bool sent = false;
    };
    void completeCurrentLocked(intptr_t result);

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable completed_;
    std::deque<Entry> queue_;
    uint64_t nextSerial_ = 1;
    uint64_t inHandling_ = 0;  // serial of a sent message being handled, 0 when none
    uint64_t lastCompleted_ = 0;
    intptr_t lastResult_ = 0;
};

}  // namespace platform
