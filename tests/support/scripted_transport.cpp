#include "tests/support/scripted_transport.h"

#include <algorithm>
#include <cstring>

ScriptedTransport::ScriptedTransport(FakeClock& clock, uint32_t readTimeoutMs, TransportKind kind)
    : clock_(clock), readTimeoutMs_(readTimeoutMs), kind_(kind) {}

ScriptedTransport::~ScriptedTransport() { log->deleted = true; }

bool ScriptedTransport::open() {
    log->opened = true;
    open_ = openSucceeds;
    return open_;
}

bool ScriptedTransport::close() {
    log->closed = true;
    open_ = false;
    return true;
}

bool ScriptedTransport::write(const uint8_t* data, uint32_t length) {
    log->writes.emplace_back(data, data + length);
    log->writeTimes.push_back(clock_.now());
    if (onWrite) onWrite(*this, log->writes.back());
    return writeSucceeds;
}

uint16_t ScriptedTransport::read(uint8_t* buffer, uint32_t capacity) {
    return readWithin(buffer, capacity, readTimeoutMs_);
}

uint16_t ScriptedTransport::readWithin(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    ++log->reads;
    const uint32_t waitMs = std::min(timeoutMs, readTimeoutMs_);
    const uint32_t now = clock_.now();
    const bool arrives = !reads_.empty() && open_ && !platform::tickIsAfter(reads_.front().atMs, now + waitMs);
    if (!arrives) {
        clock_.advance(waitMs);
        return 0;
    }
    if (platform::tickIsAfter(reads_.front().atMs, now)) clock_.advance(reads_.front().atMs - now);
    Bytes& next = reads_.front().bytes;
    const size_t n = std::min<size_t>(capacity, next.size());
    if (n) std::memcpy(buffer, next.data(), n);
    next.erase(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n));
    if (next.empty()) reads_.pop_front();
    clock_.advance(1);
    return static_cast<uint16_t>(n);
}

bool ScriptedTransport::discardPendingInput() {
    ++log->discards;
    const bool any = !reads_.empty();
    reads_.clear();
    return any;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
