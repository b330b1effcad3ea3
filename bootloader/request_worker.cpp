// The device request worker and its queue.
#include "bootloader/request_worker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_engine.h"
#include "commandport/command_port.h"
#include "transport/transport_factory.h"
#include "ui/worker_messages.h"

namespace {

constexpr auto kStopCheckInterval = std::chrono::milliseconds(250);

struct Worker {
    std::atomic<bool> stop{false};
    std::thread thread;
    std::mutex mutex;
    std::condition_variable requestEvent;
    bool eventSet = false;  // auto-reset: cleared when the queue empties
    std::deque<std::unique_ptr<DeviceRequest>> queue;
};

Worker worker;

void post(platform::WindowHandle window, uint32_t id, uintptr_t wParam = 0, intptr_t lParam = 0) {
    platform::postWindowMessage(window, {id, wParam, lParam, {}});
}

bool waitForRequestEvent() {
    std::unique_lock lock(worker.mutex);
    return worker.requestEvent.wait_for(lock, kStopCheckInterval, [] { return worker.eventSet; });
}

void workerLoop() {
    while (!worker.stop.load()) {
        if (!waitForRequestEvent()) continue;
        // Requests that piled up are collapsed: only the newest is answered.
        std::unique_ptr<DeviceRequest> held;
        while (auto next = takeDeviceRequest()) held = std::move(next);
        if (held && !worker.stop.load()) answerDeviceRequest(*held);
    }
}

// The query is sent plain, whatever the unit accepts.
void reportBootloader(BootloaderCommands& commands, uint16_t version, platform::WindowHandle window) {
    post(window, WMU_BOOTLOADER_FOUND, version);
    post(window, WMU_ENTER_BOOTLOAD_ALLOWED, 0);
    post(window, WMU_EXIT_BOOTLOAD_ALLOWED, 1);
    uint32_t application = APP_VERSION_NONE;
    if (!commands.applicationVersion(application, kQueryTimeoutMs)) application = APP_VERSION_NONE;
    post(window, WMU_APP_VERSION, 0, static_cast<intptr_t>(application));
}

struct CommandPortAnswer {
    bool answered = false;
    char state = 0;  // 'd' bootload mode disabled, 'e' enabled
};

CommandPortAnswer askCommandPort(const UnitAddress& unit) {
    CommandPortAnswer answer;
    probeCommandPort(unit, kWorkerTcpQueryTimeoutMs, [&](Transport&, const char* reply) {
        answer.answered = true;
        answer.state = bootloadStateOf(reply);
    });
    return answer;
}

void reportCommandPort(const CommandPortAnswer& answer, platform::WindowHandle window) {
    post(window, WMU_NO_BOOTLOADER);
    post(window, WMU_APP_VERSION, 0, static_cast<intptr_t>(APP_VERSION_NONE));
    post(window, WMU_ENTER_BOOTLOAD_ALLOWED, 0);
    post(window, WMU_EXIT_BOOTLOAD_ALLOWED, 0);
    if (!answer.answered) return;
    post(window, WMU_ENTER_BOOTLOAD_ALLOWED, answer.state == 'd' ? 1 : 0);
    post(window, WMU_EXIT_BOOTLOAD_ALLOWED, answer.state == 'e' ? 1 : 0);
}

// Two sends a step: the first send of each waits the whole interval for its reply (a slow link
// still finds the bootloader), and between steps the command port's answer (the unit runs its
// application) ends the wait; the first step always goes, so a bootloader that answers still wins.
Identification identifyWhileSilent(BootloaderCommands& commands, const std::atomic<bool>& commandPortAnswered) {
    constexpr uint16_t kSendsPerStep = 2;
    const uint16_t attempts = timingOf(Command::kIdentify).attempts;
    Identification identification;
    for (uint16_t sent = 0; sent < attempts && !identification.answered;) {
        if (sent > 0 && commandPortAnswered.load()) break;
        const auto step = static_cast<uint16_t>(std::min<int>(kSendsPerStep, attempts - sent));
        identification = commands.identify(kQueryTimeoutMs, step);
        sent = static_cast<uint16_t>(sent + step);
    }
    return identification;
}

}  // namespace

void answerDeviceRequest(DeviceRequest& request) {
    post(request.window, WMU_EXIT_BOOTLOAD_ALLOWED, 0);
    // A network unit's command port is apart from its bootloader port, so it is asked at the same
    // time instead of after the identification's time-out; the bootloader's answer still wins.
    std::atomic<bool> commandPortAnswered{false};
    std::future<CommandPortAnswer> commandPort;
    if (!request.unit.isSerial()) {
        commandPort = std::async(std::launch::async, [&commandPortAnswered, unit = request.unit] {
            const CommandPortAnswer answer = askCommandPort(unit);
            commandPortAnswered = answer.answered;
            return answer;
        });
    }
    BootloaderEngine engine;
    engine.setTransport(std::move(request.transport));
    engine.openTransport();
    BootloaderCommands commands(engine);
    const Identification identification = identifyWhileSilent(commands, commandPortAnswered);
    if (identification.answered) {
        reportBootloader(commands, identification.version, request.window);
        engine.closeTransport();
    } else {
        // A serial port must be free for the command-port probes.
        engine.closeTransport();
        reportCommandPort(commandPort.valid() ? commandPort.get() : askCommandPort(request.unit), request.window);
    }
    post(request.window, WMU_QUERY_DONE, request.number);
    engine.releaseTransport();
}

DeviceRequest deviceRequestFor(platform::WindowHandle window, const UnitAddress& unit) {
    return {window, unit, makeBootloaderTransport(unit)};
}

void startRequestWorker() {
    stopRequestWorker();
    worker.stop = false;
    worker.thread = std::thread(workerLoop);
}

void stopRequestWorker() {
    if (worker.thread.joinable()) {
        worker.stop = true;
        worker.thread.join();
    }
    std::lock_guard lock(worker.mutex);
    worker.queue.clear();
    worker.eventSet = false;
}

void postDeviceRequest(std::unique_ptr<DeviceRequest> request) {
    if (!worker.thread.joinable() || worker.stop.load()) return;
    {
        std::lock_guard lock(worker.mutex);
        worker.queue.push_back(std::move(request));
        worker.eventSet = true;
    }
    worker.requestEvent.notify_one();
}

std::unique_ptr<DeviceRequest> takeDeviceRequest() {
    if (worker.stop.load()) return nullptr;
    std::lock_guard lock(worker.mutex);
    if (worker.queue.empty()) return nullptr;
    std::unique_ptr<DeviceRequest> request = std::move(worker.queue.front());
    worker.queue.pop_front();
    if (worker.queue.empty()) worker.eventSet = false;
    return request;
}
