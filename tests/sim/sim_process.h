// Runs the built zt-unit-sim as a child process and talks to it over loopback and its
// pseudo-terminal. Every wait is bounded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/sim/sim_test_support.h"

class SimProcess {
public:
    ~SimProcess();
    // Starts the simulator and waits (at most 10 s) for "ready"; false if it ended first.
    bool start(const std::vector<std::string>& arguments);
    // The endpoint of a readiness line ("udp" → "127.0.0.1:40000").
    std::string endpoint(const std::string& kind) const;
    uint16_t port(const std::string& kind) const;
    // Everything the process printed before "ready" (standard output and error).
    const std::string& output() const { return output_; }
    // Waits at most `timeoutMs` for the exit; returns the exit status, or -1.
    int waitExit(int timeoutMs);
    // Asks the simulator to stop (it compares its memories on the way out) and returns its exit
    // status; -1 when it had to be killed. Also right after it ended by itself.
    int stop();
    void terminate();

private:
    int pid_ = -1;
    int outputFd_ = -1;
    std::string output_;
    std::map<std::string, std::string> endpoints_;
};

// A UDP client socket on 127.0.0.1.
class LoopbackUdp {
public:
    LoopbackUdp();
    ~LoopbackUdp();
    void sendTo(uint16_t port, const Bytes& bytes);
    // One datagram within `timeoutMs`, or empty.
    Bytes receive(int timeoutMs);

private:
    int fd_;
};

// The client end of the simulator's serial line.
class SerialClient {
public:
    explicit SerialClient(const std::string& path);
    ~SerialClient();
    bool isOpen() const { return fd_ >= 0; }
    void write(const Bytes& bytes);
    void write(const std::string& text);
    // Reads until `complete` says the bytes so far are whole, or `timeoutMs` passes.
    Bytes readUntil(bool (*complete)(const Bytes&), int timeoutMs);

private:
    int fd_;
};

bool endsWithFrame(const Bytes& bytes);
bool endsWithReply(const Bytes& bytes);
