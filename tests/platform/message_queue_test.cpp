// The portable window-message queue and status-line delivery.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/window_messages.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

using platform::MessageQueue;
using platform::WindowMessage;

TEST(MessageQueue, DeliversInArrivalOrder) {
    MessageQueue queue;
    for (uint32_t i = 0; i < 5; ++i) queue.post({WMU_PROGRESS_POS, i, 0, {}});
    WindowMessage m;
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(queue.receive(m, 0));
        EXPECT_EQ(m.wParam, i);
    }
    EXPECT_FALSE(queue.receive(m, 10));
}

TEST(MessageQueue, SendWaitsUntilTheReceiverHasHandledIt) {
    MessageQueue queue;
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        EXPECT_EQ(queue.send({WMU_PROGRESS_RANGE, 0, 42, {}}), 7);
        returned = true;
    });
    WindowMessage m;
    ASSERT_TRUE(queue.receive(m, 5000));
    EXPECT_EQ(m.lParam, 42);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    queue.handled(7);
    sender.join();
    EXPECT_TRUE(returned.load());
}

TEST(MessageQueue, NextReceiveCompletesAnUnansweredSend) {
    MessageQueue queue;
    std::thread sender([&] { queue.send({WMU_PROGRESS_RANGE, 0, 1, {}}); });
    WindowMessage m;
    ASSERT_TRUE(queue.receive(m, 5000));
    EXPECT_FALSE(queue.receive(m, 20));
    sender.join();
}

TEST(PostStatus, CarriesTheStageAndItsOwnCopy) {
    MessageQueue queue;
    std::wstring text = L"Server UI";
    postStatus(&queue, text.c_str(), true, RunStage::kFlash);
    text = L"changed";
    WindowMessage m;
    ASSERT_TRUE(queue.receive(m, 0));
    EXPECT_EQ(m.id, WMU_STATUS_TEXT);
    EXPECT_EQ(m.wParam, static_cast<uintptr_t>(RunStage::kFlash));
    EXPECT_EQ(m.text, L"Server UI");
}

TEST(PostStatus, CutsToTheStatusLine) {
    loadUiStrings();
    std::wstring longText(300, L'x');
    EXPECT_EQ(formatStatus(longText.c_str()).size(), size_t{kStatusTextChars - 1});
}
