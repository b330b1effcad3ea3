// One request/reply exchange at a time with a unit's bootloader, over an owned transport.
#pragma once

#include <cstdint>
#include <memory>

#include "bootloader/commands.h"
#include "bootloader/frame_codec.h"
#include "transport/transport.h"

// What transactions met on the way, for logs and per-unit counts.
struct EngineCounters {
    uint32_t requests = 0;     // transactions that sent something
    uint32_t resends = 0;      // sends after the first of a transaction
    uint32_t timeouts = 0;     // transactions that ended without an accepted reply
    uint32_t staleFrames = 0;  // frames not taken: another command, an old sequence number, before the send
};

// Told of each event as it happens, on the engine's own thread. Command bytes as sent.
class EngineObserver {
public:
    virtual ~EngineObserver() = default;
    virtual void resent(uint8_t /*command*/, uint16_t /*sendNumber*/) {}
    virtual void timedOut(uint8_t /*command*/) {}
    virtual void staleFrame(uint8_t /*command*/, uint8_t /*frameCommand*/) {}
};

// When a sequenced request may be resent before its interval is over (see setFastResend).
enum class FastResend { kNever, kOnceResent, kAlways };

// An engine belongs to one thread at a time; engines share no working storage.
class BootloaderEngine {
public:
    BootloaderEngine() { resetEngine(); }
    ~BootloaderEngine() { releaseTransport(); }
    BootloaderEngine(const BootloaderEngine&) = delete;
    BootloaderEngine& operator=(const BootloaderEngine&) = delete;

    // Clears the protocol state and forgets (without deleting) any held transport.
    void resetEngine();
    // Closes and deletes the held transport, then holds `transport` (which may be null).
    void setTransport(std::unique_ptr<Transport> transport);
    // Deletes the held transport without a separate close.
    void releaseTransport();
    bool openTransport();
    bool closeTransport();
    Transport* transport() { return transport_.get(); }

    // Sends command (with the sequence number when bit 7 is set) and `data`, the command's whole
    // payload as BootloaderCommands lays it out, and waits for its reply, resending every
    // timeoutMs up to `attempts` sends. True when a matching reply was accepted;
    // replyData/replyLength then show it in plain form until the next transaction.
    bool transact(uint8_t command, const uint8_t* data, uint32_t length, uint16_t attempts, uint16_t timeoutMs);
    // Byte 0: the reply's command byte without bit 7; the payload follows from byte 1.
    const uint8_t* replyData() const { return decoder_.body(); }
    // 1 + payload length + 2 CRC bytes.
    uint16_t replyLength() const { return decoder_.count(); }

    // Runs the decoder over received bytes, keeping any that follow a completed frame for the
    // next receive step.
    void feedReceived(const uint8_t* bytes, uint16_t count);
    uint32_t sequence() const { return sequence_; }
    const EngineCounters& counters() const { return counters_; }
    // `observer` (may be null) must outlive its use by this engine.
    void setObserver(EngineObserver* observer) { observer_ = observer; }
    // Sequenced commands are resent after the smoothed reply time plus four deviations (this
    // command's, or any command's until it has its own; at least 2 ms, doubling with each resend,
    // never later than the caller's interval) instead of the full interval; the last send still
    // goes at the end of the attempts' time, so a unit that does not answer fails as late as
    // without this. kOnceResent starts doing so after the engine's first resend: a clean link
    // keeps the described timing. Plain commands and the long ones (the erases, factory
    // defaults) always keep the caller's timing: a plain unit runs a repeated request again.
    void setFastResend(FastResend mode) { fastResend_ = mode; }
    // True when a frame arrived since the last identification that this run cannot account
    // for: on a plain link any frame not taken, except the extra replies a resent request may
    // draw; on a sequenced link a reply numbered beyond any request sent (another updater is
    // talking to the unit). A reply taken after that may not belong to its request.
    bool repliesInDoubt() const { return guard_.inDoubt; }
    void setSequenceForTesting(uint32_t sequence) { sequence_ = sequence; }

private:
    enum class ReceiveResult { kWaiting, kFrame, kFailure };
    enum class TransmitState { kIdle, kWaiting };

    size_t buildMessage(uint8_t command, const uint8_t* data, uint32_t length, uint32_t sequence);
    void transmitStep();
    ReceiveResult receiveStep();
    bool awaitAcceptedReply(uint8_t command);
    bool acceptable(uint8_t command) const;
    void repackSequencedReply();
    void discardPendingInput(uint8_t command);
    void noteStale(uint8_t command, const uint8_t* frame, uint16_t count);
    bool explained(uint8_t command, const uint8_t* frame, uint16_t count) const;
    void noteAccepted(uint8_t command);
    bool flushExtraReplies();
    bool fastResending() const;
    uint32_t firstResendAfterMs() const;
    uint32_t finalWaitMs() const;
    bool finalWaitOver(uint32_t now) const;
    uint32_t readWaitMs() const;
    void timeReply();

    static constexpr size_t kCommandCodes = kLastCommandCode + 1;
    static constexpr uint32_t kMinFastResendMs = 2;
    // The usual round-trip estimator's gains (as TCP's): 1/8 for the mean, 1/4 for the deviation.
    static constexpr double kSmoothingGain = 0.125;
    static constexpr double kDeviationGain = 0.25;
    struct ReplyTime {
        uint32_t samples = 0;
        double smoothedUs = 0;
        double deviationUs = 0;
    };
    static void addSample(ReplyTime& time, double sampleUs);

    // What the link has shown since the last identification. A plain unit runs every send of a
    // resent request, so each may draw a reply: those extras are owed until a request of
    // another command has been answered behind them (the unit answers in order).
    struct ReplyGuard {
        bool inDoubt = false;
        uint8_t extrasOwedFor = 0;
        bool flushing = false;
    };

    std::unique_ptr<Transport> transport_;
    EngineCounters counters_;
    EngineObserver* observer_ = nullptr;
    uint8_t transmit_[kFrameBufferSize] = {};
    uint16_t transmitLength_ = 0;
    FrameDecoder decoder_;
    uint16_t attemptsLeft_ = 0;
    uint16_t sends_ = 0;
    FastResend fastResend_ = FastResend::kNever;
    bool fastThisTransaction_ = false;
    uint32_t firstSendAt_ = 0;
    uint64_t firstSendAtUs_ = 0;
    uint32_t lastSendAt_ = 0;
    uint32_t budgetEnd_ = 0;
    uint32_t resendAfterMs_ = 0;
    ReplyTime replyTimes_[kCommandCodes] = {};
    ReplyTime anyReplyTime_;
    uint8_t command_ = 0;
    ReplyGuard guard_;
    uint32_t sequence_ = 0;
    bool timedOut_ = false;
    TransmitState transmitState_ = TransmitState::kIdle;
    uint16_t timeoutMs_ = 0;
    uint32_t resendDeadline_ = 0;
    uint8_t staging_[kFrameBufferSize] = {};
    uint8_t readScratch_[kFrameBufferSize] = {};
    // Bytes that arrived after a completed frame, decoded at the next receive step.
    uint8_t leftover_[kFrameBufferSize] = {};
    uint16_t leftoverCount_ = 0;
};
