// The device request worker: answer sequences, collapsing and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "bootloader/request_worker.h"
#include "platform/sockets.h"
#include "tests/support/command_port_script.h"
#include "tests/support/frames.h"
#include "transport/transport_factory.h"
#include "ui/worker_messages.h"

namespace {

using Sequence = std::vector<std::pair<uint32_t, intptr_t>>;

// (message, parameter) in order; the parameter is wParam or, for APP_VERSION, lParam.
Sequence drain(platform::MessageQueue& window) {
    Sequence out;
    platform::WindowMessage m;
    while (window.receive(m, 0)) {
        out.emplace_back(m.id, m.id == WMU_APP_VERSION ? m.lParam : static_cast<intptr_t>(m.wParam));
    }
    return out;
}

void answerBootloader(ScriptedTransport& link) {
    link.onWrite = [](ScriptedTransport& t, const Bytes& frame) {
        const uint8_t code = messageOf(frame).at(0);
        if (code == 0x01) t.queueRead(replyFrame(frame, {0x03, 0x01, 0x00}));
        if (code == 0x09) t.queueRead(replyFrame(frame, {0x05, 0x00, 0x02, 0x00}));
    };
}

class RequestWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        factory.serial = [this](const std::wstring&, uint32_t) {
            auto t = std::make_unique<ScriptedTransport>(clock, 150, TransportKind::kSerial);
            if (commandPortAnswers) unit.attachTo(*t);
            return t;
        };
        // A network unit's command port is asked beside its bootloader, on a thread of its own.
        factory.tcp = [this](uint32_t, uint32_t) {
            auto t = std::make_unique<ScriptedTransport>(clock, 150, TransportKind::kTcp);
            if (networkCommandPortAnswers) unit.attachTo(*t);
            return t;
        };
        setTransportFactoryForTesting(&factory);
    }
    void TearDown() override { setTransportFactoryForTesting(nullptr); }

    // A serial unit whose bootloader is silent: the request's port cannot even be opened here,
    // so only the command-port probes (scripted) answer.
    Sequence askSerialUnitWithoutBootloader() {
        DeviceRequest request = deviceRequestFor(&window, UnitAddress::serialPort(L"/dev/zt-absent-port"));
        answerDeviceRequest(request);
        return drain(window);
    }

    FakeClock clock;
    TransportFactory factory;
    CommandPortScript unit;
    bool commandPortAnswers = true;
    bool networkCommandPortAnswers = false;
    platform::MessageQueue window;
};

const intptr_t kNone = static_cast<intptr_t>(APP_VERSION_NONE);
// Whose bootloader answers on the scripted link; never probed.
const UnitAddress kNetworkUnit = UnitAddress::network(platform::ipv4Address(192, 0, 2, 10));

}  // namespace

TEST_F(RequestWorkerTest, UnitInBootloadMode) {
    auto link = std::make_unique<ScriptedTransport>(clock, 10, TransportKind::kUdp);
    answerBootloader(*link);
    auto log = link->log;
    // The end names the request, so that its poster can tell it from an earlier one's.
    DeviceRequest request{&window, kNetworkUnit, std::move(link), 7};
    answerDeviceRequest(request);
    EXPECT_EQ(drain(window), (Sequence{{WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                       {WMU_BOOTLOADER_FOUND, 0x0301},
                                       {WMU_ENTER_BOOTLOAD_ALLOWED, 0},
                                       {WMU_EXIT_BOOTLOAD_ALLOWED, 1},
                                       {WMU_APP_VERSION, 0x00020005},
                                       {WMU_QUERY_DONE, 7}}));
    EXPECT_TRUE(log->deleted);
}

// Both answer: the bootloader's answer wins over the command port's.
TEST_F(RequestWorkerTest, BootloaderWinsOverTheCommandPortOfANetworkUnit) {
    networkCommandPortAnswers = true;
    auto link = std::make_unique<ScriptedTransport>(clock, 10, TransportKind::kUdp);
    answerBootloader(*link);
    DeviceRequest request{&window, kNetworkUnit, std::move(link)};
    answerDeviceRequest(request);
    const Sequence answers = drain(window);
    EXPECT_EQ(answers.at(1), (std::pair<uint32_t, intptr_t>{WMU_BOOTLOADER_FOUND, 0x0301}));
    EXPECT_EQ(std::count(answers.begin(), answers.end(), std::pair<uint32_t, intptr_t>{WMU_NO_BOOTLOADER, 0}), 0);
}

// A network unit in its application: a silent bootloader, and the command port's answer,
// asked beside it, is the one reported.
TEST_F(RequestWorkerTest, ANetworkUnitInItsApplicationIsReportedByItsCommandPort) {
    networkCommandPortAnswers = true;
    DeviceRequest request{&window, kNetworkUnit, std::make_unique<ScriptedTransport>(clock, 10, TransportKind::kUdp)};
    answerDeviceRequest(request);
    EXPECT_EQ(drain(window), (Sequence{{WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                       {WMU_NO_BOOTLOADER, 0},
                                       {WMU_APP_VERSION, kNone},
                                       {WMU_ENTER_BOOTLOAD_ALLOWED, 0},
                                       {WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                       {WMU_ENTER_BOOTLOAD_ALLOWED, 1},
                                       {WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                       {WMU_QUERY_DONE, 0}}));
}

TEST_F(RequestWorkerTest, CommandPortReportsDisabledOrEnabled) {
    const Sequence common = {{WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                             {WMU_NO_BOOTLOADER, 0},
                             {WMU_APP_VERSION, kNone},
                             {WMU_ENTER_BOOTLOAD_ALLOWED, 0},
                             {WMU_EXIT_BOOTLOAD_ALLOWED, 0}};
    Sequence disabled = common;
    disabled.insert(disabled.end(),
                    {{WMU_ENTER_BOOTLOAD_ALLOWED, 1}, {WMU_EXIT_BOOTLOAD_ALLOWED, 0}, {WMU_QUERY_DONE, 0}});
    EXPECT_EQ(askSerialUnitWithoutBootloader(), disabled);

    unit.replies["<SY,BQ/>"] = "<sy,bq = ue/>";
    Sequence enabled = common;
    enabled.insert(enabled.end(),
                   {{WMU_ENTER_BOOTLOAD_ALLOWED, 0}, {WMU_EXIT_BOOTLOAD_ALLOWED, 1}, {WMU_QUERY_DONE, 0}});
    EXPECT_EQ(askSerialUnitWithoutBootloader(), enabled);
}

TEST_F(RequestWorkerTest, NothingAnswers) {
    commandPortAnswers = false;
    EXPECT_EQ(askSerialUnitWithoutBootloader(), (Sequence{{WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                                          {WMU_NO_BOOTLOADER, 0},
                                                          {WMU_APP_VERSION, kNone},
                                                          {WMU_ENTER_BOOTLOAD_ALLOWED, 0},
                                                          {WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                                          {WMU_QUERY_DONE, 0}}));
}

// A transport whose first write waits until the test lets it go, to hold the worker busy.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
};

TEST_F(RequestWorkerTest, RequestsQueuedWhileBusyCollapseToTheNewest) {
    Gate gate;
    startRequestWorker();
    platform::MessageQueue windows[4];
    std::vector<std::shared_ptr<ScriptLog>> logs;
    for (int i = 0; i < 4; ++i) {
        auto link = std::make_unique<ScriptedTransport>(clock, 10, TransportKind::kUdp);
        answerBootloader(*link);
        if (i == 0) {
            auto reply = link->onWrite;
            link->onWrite = [&gate, reply](ScriptedTransport& t, const Bytes& frame) {
                std::unique_lock lock(gate.mutex);
                gate.entered = true;
                gate.changed.notify_all();
                gate.changed.wait(lock, [&] { return gate.open; });
                reply(t, frame);
            };
        }
        logs.push_back(link->log);
        postDeviceRequest(std::make_unique<DeviceRequest>(DeviceRequest{&windows[i], kNetworkUnit, std::move(link)}));
        if (i == 0) {
            std::unique_lock lock(gate.mutex);
            ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate.entered; }));
        }
    }
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.changed.notify_all();
    platform::WindowMessage m;
    bool lastAnswered = false;
    for (int i = 0; i < 200 && !lastAnswered; ++i) {
        lastAnswered = windows[3].receive(m, 50) && m.id == WMU_QUERY_DONE;
    }
    stopRequestWorker();
    EXPECT_TRUE(lastAnswered);
    EXPECT_EQ(windows[1].pending() + windows[2].pending(), 0u);
    for (const auto& log : logs) EXPECT_TRUE(log->deleted);
    EXPECT_FALSE(logs[1]->opened);
    EXPECT_FALSE(logs[2]->opened);
}

TEST_F(RequestWorkerTest, PostWithoutWorkerDeletesTheRequest) {
    auto link = std::make_unique<ScriptedTransport>(clock, 10, TransportKind::kUdp);
    auto log = link->log;
    postDeviceRequest(std::make_unique<DeviceRequest>(DeviceRequest{&window, kNetworkUnit, std::move(link)}));
    EXPECT_TRUE(log->deleted);
    EXPECT_EQ(window.pending(), 0u);
}
