// A WindowHandle that delivers to a native window of the platform (on Windows an HWND).
//
// A message's text travels as a heap copy whose address is the native message's lParam; the
// receiving window procedure takes it back with takeMessageText, which frees it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_messages.h"

namespace platform {

class NativeWindowSink : public MessageSink {
public:
    // nativeWindow: the HWND the messages go to; it must stay valid while messages are sent.
    explicit NativeWindowSink(void* nativeWindow) : window_(nativeWindow) {}

    // PostMessageW; the text copy is freed here when the post fails.
    bool post(WindowMessage message) override;
    // SendMessageW; the receiver frees the text copy before it returns.
    intptr_t send(WindowMessage message) override;

    void* nativeWindow() const { return window_; }

private:
    void* window_;
};

// The text carried by a message that a NativeWindowSink delivered, freeing its copy; "" when
// the message carried none (lParam 0).
std::wstring takeMessageText(intptr_t lParam);

}  // namespace platform
