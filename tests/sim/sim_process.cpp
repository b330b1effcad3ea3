// Child-process and socket plumbing for the simulator session tests.
#include "tests/sim/sim_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

SimProcess::~SimProcess() {
    terminate();
    if (outputFd_ >= 0) close(outputFd_);
}

bool SimProcess::start(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> all = {ZT_UNIT_SIM};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int spawned = posix_spawn(&pid_, ZT_UNIT_SIM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    outputFd_ = pipeFds[0];
    if (spawned != 0) {
        pid_ = -1;
        return false;
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (output_.find("ready\n") == std::string::npos) {
        if (!waitReadable(outputFd_, remainingMs(deadline))) return false;
        char buffer[512];
        ssize_t got = read(outputFd_, buffer, sizeof buffer);
        if (got <= 0) return false;
        output_.append(buffer, static_cast<size_t>(got));
    }
    size_t start = 0;
    while (start < output_.size()) {
        size_t end = output_.find('\n', start);
        std::string line = output_.substr(start, end - start);
        size_t space = line.find(' ');
        if (space != std::string::npos) endpoints_[line.substr(0, space)] = line.substr(space + 1);
        start = end + 1;
    }
    return true;
}

std::string SimProcess::endpoint(const std::string& kind) const {
    auto it = endpoints_.find(kind);
    return it == endpoints_.end() ? std::string() : it->second;
}

uint16_t SimProcess::port(const std::string& kind) const {
    std::string where = endpoint(kind);
    size_t colon = where.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(where.substr(colon + 1)));
}

int SimProcess::waitExit(int timeoutMs) {
    if (pid_ < 0) return -1;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return -1;
}

int SimProcess::stop() {
    if (pid_ < 0) return -1;
    kill(pid_, SIGTERM);
    const int status = waitExit(20000);
    if (pid_ >= 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    return status;
}

void SimProcess::terminate() { stop(); }

LoopbackUdp::LoopbackUdp() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
}

LoopbackUdp::~LoopbackUdp() { close(fd_); }

void LoopbackUdp::sendTo(uint16_t port, const Bytes& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

Bytes LoopbackUdp::receive(int timeoutMs) {
    if (!waitReadable(fd_, timeoutMs)) return {};
    uint8_t buffer[2048];
    ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    return got > 0 ? Bytes(buffer, buffer + got) : Bytes{};
}

SerialClient::SerialClient(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    if (fd_ < 0) return;
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
    tcflush(fd_, TCIOFLUSH);
}

SerialClient::~SerialClient() {
    if (fd_ >= 0) close(fd_);
}

void SerialClient::write(const Bytes& bytes) {
    ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    (void)written;
}

void SerialClient::write(const std::string& text) { write(Bytes(text.begin(), text.end())); }

Bytes SerialClient::readUntil(bool (*complete)(const Bytes&), int timeoutMs) {
    Bytes got;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!complete(got) && waitReadable(fd_, remainingMs(deadline))) {
        uint8_t buffer[512];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

bool endsWithFrame(const Bytes& bytes) { return !replyMessage(bytes).empty(); }

bool endsWithReply(const Bytes& bytes) {
    return bytes.size() >= 2 && bytes[bytes.size() - 2] == '\r' && bytes.back() == '\n';
}
