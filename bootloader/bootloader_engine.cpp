// The transaction engine: framing, resend timer, reply matching.
#include "bootloader/bootloader_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bootloader/byte_order.h"
#include "bootloader/crc16.h"
#include "platform/clock.h"

namespace {

// One read's room. What a read brings is copied through readScratch_ and, past a completed
// frame, leftover_, so it must fit them (kFrameBufferSize each); every reply a unit sends is far
// shorter (the longest, the identification text, is a few lines), so no UDP reply is ever cut.
constexpr uint32_t kReadSize = 2038;
static_assert(kReadSize <= kFrameBufferSize);

// The erases and the factory defaults run for seconds: neither resent early nor a measure of
// the link's round trip.
bool takesSeconds(uint8_t command) {
    const uint8_t code = command & ~kSequencedBit;
    return code == codeOf(Command::kEraseApplication) || code == codeOf(Command::kEraseImage) ||
           code == codeOf(Command::kFactoryDefaults);
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
    guard_ = ReplyGuard{};
}

void BootloaderEngine::setTransport(std::unique_ptr<Transport> transport) {
    if (transport_ && transport_->isOpen()) transport_->close();
    transport_ = std::move(transport);
}

void BootloaderEngine::releaseTransport() { transport_.reset(); }

bool BootloaderEngine::openTransport() { return transport_ ? transport_->open() : false; }

bool BootloaderEngine::closeTransport() { return transport_ ? transport_->close() : false; }

// Puts the command byte, the sequence number (sequenced form) and the caller's payload into the
// staging buffer; returns the message's length, 0 for a refused command or a payload too long.
size_t BootloaderEngine::buildMessage(uint8_t command, const uint8_t* data, uint32_t length, uint32_t sequence) {
    const uint8_t code = command & ~kSequencedBit;
    if (code < kFirstCommandCode || code > kLastCommandCode) return 0;
    size_t m = 0;
    staging_[m++] = command;
    if (command & kSequencedBit) {
        put32MsbFirst(staging_ + m, sequence);
        m += kSequenceBytes;
    }
    // Two CRC bytes must still fit behind the message.
    if (length > kFrameBufferSize - 2 - m) return 0;
    if (length) std::memcpy(staging_ + m, data, length);
    return m + length;
}

bool BootloaderEngine::transact(uint8_t command, const uint8_t* data, uint32_t length, uint16_t attempts,
                                uint16_t timeoutMs) {
    if (!transport_ || !transport_->isOpen()) return false;

    const uint8_t code = command & ~kSequencedBit;
    if (guard_.extrasOwedFor != 0 && command == guard_.extrasOwedFor && !flushExtraReplies()) return false;
    uint32_t sequence = code == codeOf(Command::kIdentify) ? 0 : sequence_;
    if (command & kSequencedBit) sequence = nextSequence(sequence);

    const size_t m = buildMessage(command, data, length, sequence);
    if (m == 0) return false;
    const size_t frame = encodeFrame(staging_, m, transmit_, sizeof transmit_);
    if (frame == 0) return false;
    transmitLength_ = static_cast<uint16_t>(frame);
    sequence_ = sequence;

    const CommandTiming& timing = timingOf(static_cast<Command>(code));
    if (timing.forcedAttempts) attempts = timing.attempts;
    if (timing.forcedTimeout) timeoutMs = timing.timeoutMs;
    timeoutMs_ = timeoutMs;
    transmitState_ = TransmitState::kIdle;
    attemptsLeft_ = attempts;
    timedOut_ = false;
    if (code == codeOf(Command::kIdentify)) guard_ = ReplyGuard{};
    command_ = command;
    discardPendingInput(command);
    ++counters_.requests;

    if (!awaitAcceptedReply(command)) {
        // The closing and leave commands are answered by no unit; their end is no time-out.
        if (timing.command != Command::kClose && timing.command != Command::kLeave) {
            ++counters_.timeouts;
            if (observer_) observer_->timedOut(command);
        }
        return false;
    }
    timeReply();
    noteAccepted(command);
    if (command & kSequencedBit) repackSequencedReply();
    transmitState_ = TransmitState::kIdle;
    timedOut_ = false;
    return true;
}

// A frame that is not this request's reply never extends the wait: once the last send's wait
// is over the transaction ends, however many such frames keep arriving.
bool BootloaderEngine::awaitAcceptedReply(uint8_t command) {
    for (;;) {
        transmitStep();
        const ReceiveResult result = receiveStep();
        if (result == ReceiveResult::kFailure) return false;
        if (result == ReceiveResult::kWaiting) continue;
        if (acceptable(command)) return true;
        noteStale(command, decoder_.body(), decoder_.count());
        if (timedOut_ || !transport_->isOpen()) {
            timedOut_ = false;
            return false;
        }
    }
}

// Anything that arrived before this request's first send belongs to an earlier one.
void BootloaderEngine::discardPendingInput(uint8_t command) {
    const bool stale = transport_->discardPendingInput() || leftoverCount_ > 0;
    leftoverCount_ = 0;
    decoder_.reset();
    if (stale) noteStale(command, nullptr, 0);
}

// frame is null for input thrown away unread before a send.
void BootloaderEngine::noteStale(uint8_t command, const uint8_t* frame, uint16_t count) {
    ++counters_.staleFrames;
    if (observer_) observer_->staleFrame(command, frame ? frame[0] : 0);
    if (!explained(command, frame, count)) guard_.inDoubt = true;
}

// A plain reply carries nothing that ties it to its request, so a frame not taken on a plain
// link means replies come twice or late, and any reply taken may have been such a copy; only
// the extras a resent request may draw are expected. A sequenced reply names its request: only
// a number this run never sent is unexplained.
bool BootloaderEngine::explained(uint8_t command, const uint8_t* frame, uint16_t count) const {
    if (isIdentification(command & ~kSequencedBit)) return true;
    if (command & kSequencedBit) {
        const bool numbered = frame && (frame[0] & kSequencedBit) && count >= kShortestSequencedReply;
        return !numbered || !platform::tickIsAfter(get32MsbFirst(frame + 1), sequence_);
    }
    if (guard_.extrasOwedFor == 0) return false;
    return frame == nullptr || frame[0] == guard_.extrasOwedFor;
}

// Every send of a resent plain request may have run and drawn a reply; those extras could
// pass for the reply to the next request of the same command.
void BootloaderEngine::noteAccepted(uint8_t command) {
    const bool extrasMayFollow = !(command & kSequencedBit) && !isQuery(command & ~kSequencedBit) && sends_ > 1;
    guard_.extrasOwedFor = extrasMayFollow ? command : 0;
}

// Before such a request goes out, a version query is answered behind the extras: the unit
// answers in order, so they have all arrived (and been set aside) once its reply is in.
bool BootloaderEngine::flushExtraReplies() {
    const CommandTiming& timing = timingOf(Command::kApplicationVersion);
    return transact(codeOf(Command::kApplicationVersion), nullptr, 0, timing.attempts, timing.timeoutMs);
}

void BootloaderEngine::transmitStep() {
    const uint32_t now = platform::tickCount();
    if (transmitState_ == TransmitState::kIdle) {
        if (attemptsLeft_ == 0) return;
        transport_->write(transmit_, transmitLength_);
        --attemptsLeft_;
        sends_ = 1;
        transmitState_ = TransmitState::kWaiting;
        firstSendAt_ = now;
        firstSendAtUs_ = platform::microsecondCount();
        lastSendAt_ = now;
        fastThisTransaction_ = fastResending();
        budgetEnd_ = now + static_cast<uint32_t>(attemptsLeft_) * timeoutMs_;
        resendAfterMs_ = firstResendAfterMs();
        resendDeadline_ = now + resendAfterMs_;
        return;
    }
    if (attemptsLeft_ == 0) {
        if (!finalWaitOver(now)) return;
        timedOut_ = true;
        transmitState_ = TransmitState::kIdle;
        return;
    }
    if (!platform::tickIsAfter(now, resendDeadline_)) return;
    transport_->write(transmit_, transmitLength_);
    lastSendAt_ = now;
    ++sends_;
    ++counters_.resends;
    if (observer_) observer_->resent(command_, sends_);
    if (!fastThisTransaction_) {
        --attemptsLeft_;
        resendDeadline_ = now + timeoutMs_;
        return;
    }
    // Early resends spend no attempts; the send at the end of the attempts' time is the last.
    if (!platform::tickIsAfter(budgetEnd_, now)) {
        attemptsLeft_ = 0;
        return;
    }
    resendAfterMs_ = std::min<uint32_t>(2 * resendAfterMs_, timeoutMs_);
    resendDeadline_ = platform::tickIsAfter(now + resendAfterMs_, budgetEnd_) ? budgetEnd_ : now + resendAfterMs_;
}

// After the last send the reply is waited for two reads' time, by the clock: a serial read
// returns with the first bytes of a frame, so counting reads would end inside the reply. A
// command that takes seconds gets its whole interval: if its first request was lost, the last
// send is the one that starts the erase.
uint32_t BootloaderEngine::finalWaitMs() const {
    return takesSeconds(command_) ? timeoutMs_ : 2 * transport_->readTimeoutMs();
}

bool BootloaderEngine::finalWaitOver(uint32_t now) const {
    return platform::ticksBetween(lastSendAt_, now) >= finalWaitMs();
}

// A read never runs past the end of the final wait, nor past an early resend.
uint32_t BootloaderEngine::readWaitMs() const {
    const uint32_t now = platform::tickCount();
    if (transmitState_ == TransmitState::kWaiting && attemptsLeft_ == 0) {
        const uint32_t waited = platform::ticksBetween(lastSendAt_, now);
        const uint32_t finalMs = finalWaitMs();
        return waited >= finalMs ? 0 : finalMs - waited;
    }
    if (transmitState_ == TransmitState::kWaiting && fastThisTransaction_) {
        // The resend goes at the first look after the deadline.
        return platform::tickIsAfter(now, resendDeadline_) ? 0 : platform::ticksBetween(now, resendDeadline_) + 1;
    }
    return transport_->readTimeoutMs();
}

// Fast resends only where a copy is harmless (a sequenced command: the unit answers a repeat
// from its stored reply), where a reply has been timed, and not for the commands that take
// seconds: an erase resent early would only be answered later.
bool BootloaderEngine::fastResending() const {
    const bool wanted =
        fastResend_ == FastResend::kAlways || (fastResend_ == FastResend::kOnceResent && counters_.resends > 0);
    return wanted && (command_ & kSequencedBit) && !takesSeconds(command_) && anyReplyTime_.samples > 0;
}

uint32_t BootloaderEngine::firstResendAfterMs() const {
    if (!fastThisTransaction_) return timeoutMs_;
    const ReplyTime& own = replyTimes_[command_ & ~kSequencedBit];
    const ReplyTime& time = own.samples > 0 ? own : anyReplyTime_;
    const double estimateUs = time.smoothedUs + 4 * time.deviationUs;
    const auto estimateMs = static_cast<uint32_t>(std::ceil(estimateUs / 1000));
    return std::clamp<uint32_t>(estimateMs, kMinFastResendMs, timeoutMs_);
}

// Smoothed reply time and its deviation, from replies to a first send only: the reply to a
// resent request cannot be matched to one send.
void BootloaderEngine::timeReply() {
    if (sends_ != 1) return;
    const auto sampleUs = static_cast<double>(platform::microsecondCount() - firstSendAtUs_);
    addSample(replyTimes_[command_ & ~kSequencedBit], sampleUs);
    if (!takesSeconds(command_)) addSample(anyReplyTime_, sampleUs);
}

void BootloaderEngine::addSample(ReplyTime& time, double sampleUs) {
    if (time.samples++ == 0) {
        time.smoothedUs = sampleUs;
        time.deviationUs = sampleUs / 2;
        return;
    }
    time.deviationUs += kDeviationGain * (std::abs(time.smoothedUs - sampleUs) - time.deviationUs);
    time.smoothedUs += kSmoothingGain * (sampleUs - time.smoothedUs);
}

BootloaderEngine::ReceiveResult BootloaderEngine::receiveStep() {
    uint16_t count;
    if (leftoverCount_ > 0) {
        count = leftoverCount_;
        std::memcpy(readScratch_, leftover_, count);
        leftoverCount_ = 0;
    } else if (timedOut_) {
        count = 0;
    } else {
        const uint32_t waitMs = readWaitMs();
        count = waitMs == 0 ? 0 : transport_->readWithin(readScratch_, kReadSize, waitMs);
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
    return decoder_.count() >= kShortestSequencedReply && get32MsbFirst(body + 1) == sequence_;
}

// Shows the caller a sequenced reply in plain form: command without bit 7, payload, fresh CRC.
void BootloaderEngine::repackSequencedReply() {
    uint8_t* body = decoder_.body();
    const uint16_t n = decoder_.count();
    const uint16_t plain = static_cast<uint16_t>(n - kSequenceBytes - 2);
    staging_[0] = static_cast<uint8_t>(body[0] & ~kSequencedBit);
    std::memcpy(staging_ + 1, body + 1 + kSequenceBytes, plain - 1u);
    const uint16_t crc = crc16(staging_, plain);
    staging_[plain] = static_cast<uint8_t>(crc & 0xFF);
    staging_[plain + 1] = static_cast<uint8_t>(crc >> 8);
    std::memcpy(body, staging_, plain + 2u);
    decoder_.setCount(static_cast<uint16_t>(n - 4));
}
