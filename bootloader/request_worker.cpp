// The device request worker and its queue.
#include "bootloader/request_worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "bootloader/bootloader_engine.h"
#include "commandport/command_port.h"
#include "ui/worker_messages.h"

namespace {

constexpr auto kStopCheckInterval = std::chrono::milliseconds(250);
constexpr uint32_t kSerialQueryTimeoutMs = 1000;

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

void reportBootloader(BootloaderEngine& engine, platform::WindowHandle window) {
    const uint8_t* version = engine.replyData();
    post(window, WMU_BOOTLOADER_FOUND, static_cast<uintptr_t>(version[1] << 8 | version[2]));
    post(window, WMU_ENTER_BOOTLOAD_ALLOWED, 0);
    post(window, WMU_EXIT_BOOTLOAD_ALLOWED, 1);
    uint32_t application = APP_VERSION_NONE;
    if (engine.transact(0x09, nullptr, 0, 5, kQueryTimeoutMs) && engine.replyLength() >= 7) {
        const uint8_t* reply = engine.replyData();
        application = uint32_t{reply[1]} | uint32_t{reply[2]} << 8 | uint32_t{reply[3]} << 16 | uint32_t{reply[4]} << 24;
    }
    post(window, WMU_APP_VERSION, 0, static_cast<intptr_t>(application));
}

void reportCommandPort(Transport& connection, platform::WindowHandle window) {
    post(window, WMU_NO_BOOTLOADER);
    post(window, WMU_APP_VERSION, 0, static_cast<intptr_t>(APP_VERSION_NONE));
    post(window, WMU_ENTER_BOOTLOAD_ALLOWED, 0);
    post(window, WMU_EXIT_BOOTLOAD_ALLOWED, 0);
    const uint32_t tcpTimeout = isKind(connection, L"COM") ? kSerialQueryTimeoutMs : kWorkerTcpQueryTimeoutMs;
    probeCommandPort(connection, tcpTimeout, [&](Transport&, const char* reply) {
        const char state = bootloadStateOf(reply);
        post(window, WMU_ENTER_BOOTLOAD_ALLOWED, state == 'd' ? 1 : 0);
        post(window, WMU_EXIT_BOOTLOAD_ALLOWED, state == 'e' ? 1 : 0);
    });
}

}  // namespace

void answerDeviceRequest(DeviceRequest& request) {
    post(request.window, WMU_EXIT_BOOTLOAD_ALLOWED, 0);
    BootloaderEngine engine;
    Transport* connection = request.transport.get();
    engine.setTransport(std::move(request.transport));
    engine.openTransport();
    if (engine.transact(0x01, nullptr, 0, 5, kQueryTimeoutMs)) {
        reportBootloader(engine, request.window);
        engine.closeTransport();
    } else if (connection && (isKind(*connection, L"COM") || isKind(*connection, L"IP"))) {
        // The port must be free for the command-port probes.
        engine.closeTransport();
        reportCommandPort(*connection, request.window);
    }
    post(request.window, WMU_QUERY_DONE);
    engine.releaseTransport();
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
