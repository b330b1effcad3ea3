#include "tests/faults/timed_pump.h"

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

std::vector<TimedMessage> pumpTimed(platform::MessageQueue& queue, const std::function<void()>& work,
                                    std::chrono::milliseconds limit,
                                    const std::function<void(const TimedMessage&)>& onMessage) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    std::vector<TimedMessage> received;
    const auto deadline = SteadyClock::now() + limit;
    platform::WindowMessage m;
    while ((!done.load() || queue.pending() > 0) && SteadyClock::now() < deadline) {
        if (!queue.receive(m, 5)) continue;
        received.push_back({m, SteadyClock::now()});
        if (onMessage) onMessage(received.back());
        queue.handled();
    }
    worker.join();
    while (queue.receive(m, 0)) received.push_back({m, SteadyClock::now()});
    return received;
}

long long msBeforeTerminal(const std::vector<TimedMessage>& messages) {
    if (messages.size() < 2) return -1;
    const auto& last = messages[messages.size() - 1].when;
    const auto& before = messages[messages.size() - 2].when;
    return std::chrono::duration_cast<std::chrono::milliseconds>(last - before).count();
}

long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}
