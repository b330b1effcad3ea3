// The portable window-message queue and status-line delivery.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/window_messages.h"
#include "ui/coalescing_progress_sink.h"
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

// A worker posting a position per request leaves one message waiting, which reads the latest
// position; the others pass in order around it.
TEST(CoalescingProgressSink, OnePositionWaitsAndReadsTheLatest) {
    MessageQueue queue;
    CoalescingProgressSink sink(queue);
    sink.post({WMU_STATUS_TEXT, 0, 0, L"Server UI"});
    for (uint32_t i = 1; i <= 1000; ++i) sink.post({WMU_PROGRESS_POS, i, 0, {}});
    sink.post({WMU_UPDATE_DONE, 0, 0, {}});
    EXPECT_EQ(queue.pending(), 3u);
    WindowMessage m;
    ASSERT_TRUE(queue.receive(m, 0));
    EXPECT_EQ(m.id, WMU_STATUS_TEXT);
    ASSERT_TRUE(queue.receive(m, 0));
    EXPECT_EQ(m.id, WMU_PROGRESS_POS);
    EXPECT_EQ(sink.takePosition(), 1000u);
    ASSERT_TRUE(queue.receive(m, 0));
    EXPECT_EQ(m.id, WMU_UPDATE_DONE);
}

TEST(CoalescingProgressSink, APositionAfterTheTakePostsAgain) {
    MessageQueue queue;
    CoalescingProgressSink sink(queue);
    sink.post({WMU_PROGRESS_POS, 5, 0, {}});
    WindowMessage m;
    ASSERT_TRUE(queue.receive(m, 0));
    EXPECT_EQ(sink.takePosition(), 5u);
    sink.post({WMU_PROGRESS_POS, 9, 0, {}});
    ASSERT_TRUE(queue.receive(m, 0));
    EXPECT_EQ(sink.takePosition(), 9u);
    EXPECT_FALSE(queue.receive(m, 0));
}

// Every position a worker thread posts is read by some take, the last one included.
TEST(CoalescingProgressSink, NoPositionIsLostAcrossThreads) {
    MessageQueue queue;
    CoalescingProgressSink sink(queue);
    constexpr uint32_t kLast = 20000;
    std::thread worker([&] {
        for (uint32_t i = 1; i <= kLast; ++i) sink.post({WMU_PROGRESS_POS, i, 0, {}});
    });
    uint32_t seen = 0;
    WindowMessage m;
    for (int turns = 0; seen != kLast && turns < 1000000 && queue.receive(m, 2000); ++turns) {
        const uint32_t position = sink.takePosition();
        EXPECT_GE(position, seen);
        seen = position;
    }
    worker.join();
    EXPECT_EQ(seen, kLast);
}
