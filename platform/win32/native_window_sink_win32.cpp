// Worker messages to an HWND: posted or sent, with the text as a heap copy in lParam.
#include <windows.h>

#include <cstring>

#include "platform/native_window_sink.h"

namespace platform {

namespace {

// The message's lParam, or the address of a new copy of its text when it carries one.
LPARAM packText(const WindowMessage& message) {
    if (message.text.empty()) return static_cast<LPARAM>(message.lParam);
    auto* copy = new wchar_t[message.text.size() + 1];
    std::memcpy(copy, message.text.c_str(), (message.text.size() + 1) * sizeof(wchar_t));
    return reinterpret_cast<LPARAM>(copy);
}

constexpr int kFullQueueRetries = 3000;
constexpr DWORD kFullQueuePauseMs = 10;

// A busy window's queue can fill (10,000 messages) during an update's progress reports; wait
// for room rather than lose a message, above all a run's terminal one.
bool postWithRoom(HWND window, UINT id, WPARAM wParam, LPARAM lParam) {
    for (int attempt = 0; attempt < kFullQueueRetries; ++attempt) {
        if (PostMessageW(window, id, wParam, lParam)) return true;
        if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA || !IsWindow(window)) return false;
        Sleep(kFullQueuePauseMs);
    }
    return false;
}

}  // namespace

bool NativeWindowSink::post(WindowMessage message) {
    LPARAM lParam = packText(message);
    if (postWithRoom(static_cast<HWND>(window_), message.id, message.wParam, lParam)) return true;
    if (!message.text.empty()) delete[] reinterpret_cast<wchar_t*>(lParam);
    return false;
}

intptr_t NativeWindowSink::send(WindowMessage message) {
    LPARAM lParam = packText(message);
    return SendMessageW(static_cast<HWND>(window_), message.id, message.wParam, lParam);
}

std::wstring takeMessageText(intptr_t lParam) {
    if (lParam == 0) return {};
    wchar_t* copy = reinterpret_cast<wchar_t*>(lParam);
    std::wstring text(copy);
    delete[] copy;
    return text;
}

}  // namespace platform
