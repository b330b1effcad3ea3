// The bootloader's commands as calls: each builds its payload, sends it with its row of the
// command table and judges the reply, so callers read like the protocol.
#pragma once

#include <atomic>
#include <cstdint>

#include "bootloader/bootloader_engine.h"
#include "bootloader/commands.h"

// What the identification reply says.
struct Identification {
    bool answered = false;
    uint16_t replyLength = 0;
    uint16_t version = 0;           // major in the high byte
    bool acceptsSequenced = false;  // the reply carried a third data byte
};

// Works on an engine owned elsewhere, for as long as the caller holds it.
class BootloaderCommands {
public:
    explicit BootloaderCommands(BootloaderEngine& engine) : engine_(engine) {}

    // Sequenced form for every command but the identifications, once the unit has shown that
    // it accepts it.
    void setSequenced(bool on) { sequenced_ = on; }
    // Set by another thread to refuse every later command; null: never.
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    bool stopped() const { return stopped_; }

    Identification identify(uint16_t timeoutMs = timingOf(Command::kIdentify).timeoutMs,
                            uint16_t attempts = timingOf(Command::kIdentify).attempts);
    // The application's version as (major << 16 | minor), or false without a full reply.
    bool applicationVersion(uint32_t& version, uint16_t timeoutMs = timingOf(Command::kApplicationVersion).timeoutMs);
    bool eraseApplication();
    bool programRecords(const uint8_t* records, uint32_t length);
    bool writeVersion(uint8_t minor, uint8_t major);
    bool eraseImage();
    bool programChunk(uint32_t position, const uint8_t* data, uint16_t length);
    bool endImage();
    bool factoryDefaults();
    // No unit answers these two; they are sent and forgotten.
    void close();
    void leave();
    // Command 13's reply text (after the command byte) and its length, or false.
    bool identifyText(uint16_t attempts, uint16_t timeoutMs, const uint8_t*& text, uint16_t& length);

private:
    bool send(Command command, const uint8_t* data, uint32_t length);
    bool send(Command command, const uint8_t* data, uint32_t length, uint16_t attempts, uint16_t timeoutMs);
    bool acked() const;
    bool stored() const;

    BootloaderEngine& engine_;
    bool sequenced_ = false;
    const std::atomic<bool>* stop_ = nullptr;
    bool stopped_ = false;
};
