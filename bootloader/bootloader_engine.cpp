// The transaction engine: framing, resend timer, reply matching.
#include "bootloader/bootloader_engine.h"

#include <cstring>

#include "bootloader/crc16.h"
#include "platform/clock.h"

namespace {

constexpr uint8_t kSequencedBit = 0x80;
constexpr size_t kSequenceBytes = 4;
constexpr uint32_t kReadSize = 2038;
constexpr uint32_t kChunkPayloadBytes = 72;

inline void storeBigEndian32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

inline uint32_t loadBigEndian32(const uint8_t* in) {
    return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

inline uint32_t nextSequence(uint32_t sequence) {
    ++sequence;
    return sequence == 0 ? 1 : sequence;
}

}  // namespace

void BootloaderEngine::resetEngine() {
    (void)transport_.release();
    decoder_.reset();
    timedOut_ = false;
    transmitState_ = TransmitState::kIdle;
    sequence_ = 0;
    leftoverCount_ = 0;
}

void BootloaderEngine::setTransport(std::unique_ptr<Transport> transport) {
    if (transport_ && transport_->isOpen()) transport_->close();
    transport_ = std::move(transport);
}

void BootloaderEngine::releaseTransport() { transport_.reset(); }

bool BootloaderEngine::openTransport() { return transport_ ? transport_->open() : false; }

bool BootloaderEngine::closeTransport() { return transport_ ? transport_->close() : false; }

// Puts the message into the staging buffer; returns its length, 0 for a refused command.
size_t BootloaderEngine::buildMessage(uint8_t command, const uint8_t* data, uint32_t length,
                                      uint32_t sequence) {
    const uint8_t code = command & ~kSequencedBit;
    if (code < 1 || code > 13) return 0;
    // Two CRC bytes must still fit behind the message.
    const size_t room = kFrameBufferSize - 2;
    size_t m = 0;
    staging_[m++] = command;
    if (command & kSequencedBit) {
        storeBigEndian32(staging_ + m, sequence);
        m += kSequenceBytes;
    }
    switch (code) {
        case 3:
            if (length > room - m) return 0;
            if (length) std::memcpy(staging_ + m, data, length);
            m += length;
            break;
        case 6:
            std::memcpy(staging_ + m, data, kChunkPayloadBytes);
            m += kChunkPayloadBytes;
            break;
        case 8:
            staging_[m++] = data[0];
            staging_[m++] = 0x00;
            staging_[m++] = data[1];
            staging_[m++] = 0x00;
            break;
        case 10: {
            const size_t text = strnlen(reinterpret_cast<const char*>(data), room - m);
            if (text >= room - m) return 0;
            std::memcpy(staging_ + m, data, text + 1);
            m += text + 1;
            break;
        }
        default:
            break;
    }
    return m;
}

bool BootloaderEngine::transact(uint8_t command, const uint8_t* data, uint32_t length,
                                uint16_t attempts, uint16_t timeoutMs) {
    if (!transport_ || !transport_->isOpen()) return false;

    const uint8_t code = command & ~kSequencedBit;
    uint32_t sequence = code == 1 ? 0 : sequence_;
    if (command & kSequencedBit) sequence = nextSequence(sequence);

    const size_t m = buildMessage(command, data, length, sequence);
    if (m == 0) return false;
    const size_t frame = encodeFrame(staging_, m, transmit_, sizeof transmit_);
    if (frame == 0) return false;
    transmitLength_ = static_cast<uint16_t>(frame);
    sequence_ = sequence;

    if (code == 4) {
        attempts = 1;
        timeoutMs = 10;
    } else if (code == 11) {
        attempts = 1;
    }
    timeoutMs_ = timeoutMs;
    transmitState_ = TransmitState::kIdle;
    attemptsLeft_ = attempts;
    timedOut_ = false;
    discardPendingInput();

    for (;;) {
        transmitStep();
        ReceiveResult result = receiveStep();
        if (result == ReceiveResult::kFailure) return false;
        if (result == ReceiveResult::kFrame && acceptable(command)) break;
    }
    if (command & kSequencedBit) repackSequencedReply();
    transmitState_ = TransmitState::kIdle;
    timedOut_ = false;
    return true;
}

// Anything that arrived before this request's first send belongs to an earlier one.
void BootloaderEngine::discardPendingInput() {
    transport_->discardPendingInput();
    leftoverCount_ = 0;
    decoder_.reset();
}

void BootloaderEngine::transmitStep() {
    const uint32_t now = platform::tickCount();
    if (transmitState_ == TransmitState::kIdle) {
        if (attemptsLeft_ == 0) return;
        transport_->write(transmit_, transmitLength_);
        --attemptsLeft_;
        transmitState_ = TransmitState::kWaiting;
        resendDeadline_ = now + timeoutMs_;
        return;
    }
    if (attemptsLeft_ == 0) {
        timedOut_ = true;
        transmitState_ = TransmitState::kIdle;
        return;
    }
    if (platform::tickIsAfter(now, resendDeadline_)) {
        resendDeadline_ = now + timeoutMs_;
        transport_->write(transmit_, transmitLength_);
        --attemptsLeft_;
    }
}

BootloaderEngine::ReceiveResult BootloaderEngine::receiveStep() {
    uint16_t count;
    if (leftoverCount_ > 0) {
        count = leftoverCount_;
        std::memcpy(readScratch_, leftover_, count);
        leftoverCount_ = 0;
    } else {
        count = transport_->read(readScratch_, kReadSize);
    }
    feedReceived(readScratch_, count);
    if (decoder_.frameComplete()) {
        decoder_.clearFrameComplete();
        return ReceiveResult::kFrame;
    }
    if (!timedOut_ && transport_->isOpen()) return ReceiveResult::kWaiting;
    timedOut_ = false;
    decoder_.clearFrameComplete();
    return ReceiveResult::kFailure;
}

void BootloaderEngine::feedReceived(const uint8_t* bytes, uint16_t count) {
    const size_t consumed = decoder_.feed(bytes, count);
    const size_t rest = count - consumed;
    if (rest > 0) {
        std::memmove(leftover_, bytes + consumed, rest);
        leftoverCount_ = static_cast<uint16_t>(rest);
    }
}

bool BootloaderEngine::acceptable(uint8_t command) const {
    const uint8_t* body = decoder_.body();
    if (body[0] != command) return false;
    if (!(command & kSequencedBit)) return true;
    return decoder_.count() >= 7 && loadBigEndian32(body + 1) == sequence_;
}

// Shows the caller a sequenced reply in plain form: command without bit 7, payload, fresh CRC.
void BootloaderEngine::repackSequencedReply() {
    uint8_t* body = decoder_.body();
    const uint16_t n = decoder_.count();
    const uint16_t plain = static_cast<uint16_t>(n - 6);
    staging_[0] = static_cast<uint8_t>(body[0] & ~kSequencedBit);
    std::memcpy(staging_ + 1, body + 1 + kSequenceBytes, plain - 1u);
    const uint16_t crc = crc16(staging_, plain);
    staging_[plain] = static_cast<uint8_t>(crc & 0xFF);
    staging_[plain + 1] = static_cast<uint8_t>(crc >> 8);
    std::memcpy(body, staging_, plain + 2u);
    decoder_.setCount(static_cast<uint16_t>(n - 4));
}
