#include "tests/support/message_pump.h"

#include <atomic>
#include <thread>

std::vector<platform::WindowMessage> pumpWhile(platform::MessageQueue& queue, const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    std::vector<platform::WindowMessage> received;
    platform::WindowMessage m;
    while (!done.load() || queue.pending() > 0) {
        if (queue.receive(m, 5)) received.push_back(m);
    }
    queue.handled();
    worker.join();
    while (queue.receive(m, 0)) received.push_back(m);
    return received;
}
