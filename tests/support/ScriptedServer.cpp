#include "tests/support/ScriptedServer.h"

#include "tests/support/ScriptedServerSocket.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace vyktest {

using namespace sockets;

Script& Script::Send(std::string bytes, int pieceSize, int delayMs) {
    steps.push_back({Step::Kind::Send, std::move(bytes), pieceSize, delayMs});
    return *this;
}
Script& Script::ReceiveUntil(std::string pattern) {
    steps.push_back({Step::Kind::ReceiveUntil, std::move(pattern), 0, 0});
    return *this;
}
Script& Script::ReceiveBytes(int count) {
    steps.push_back({Step::Kind::ReceiveBytes, {}, count, 0});
    return *this;
}
Script& Script::Wait(int ms) {
    steps.push_back({Step::Kind::Wait, {}, ms, 0});
    return *this;
}
Script& Script::Close() {
    steps.push_back({Step::Kind::Close, {}, 0, 0});
    return *this;
}
Script& Script::Reset() {
    steps.push_back({Step::Kind::Reset, {}, 0, 0});
    return *this;
}
Script& Script::Stall() {
    steps.push_back({Step::Kind::Stall, {}, 0, 0});
    return *this;
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, bool ipv6)
    : scripts_(std::move(scripts)), ipv6_(ipv6) {
    listener_ = OpenListener(ipv6, 16, port_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    acceptor_.join();
    for (auto& w : workers_) w.join();
    Close(listener_);
}

std::string ScriptedServer::Url(const std::string& path) const {
    return std::string("http://") + (ipv6_ ? "[::1]" : "127.0.0.1") + ":" + std::to_string(port_) +
           path;
}

std::string ScriptedServer::Received(int connection) const {
    std::lock_guard guard(lock_);
    return connection < static_cast<int>(received_.size()) ? received_[connection] : std::string();
}

std::string ScriptedServer::AllReceived() const {
    std::lock_guard guard(lock_);
    std::string all;
    for (const auto& r : received_) all += r;
    return all;
}

void ScriptedServer::AcceptLoop() {
    while (!stop_) {
        if (!WaitReadable(listener_, 20)) continue;
        const Handle fd = Accept(listener_);
        if (fd == kInvalid) continue;
        const int index = accepted_++;
        {
            std::lock_guard guard(lock_);
            received_.resize(static_cast<size_t>(index) + 1);
        }
        workers_.emplace_back([this, index, fd] { Play(index, fd); });
    }
}

void ScriptedServer::Play(int index, std::intptr_t socket) {
    const Handle fd = socket;
    const Script& script =
        scripts_[std::min<size_t>(static_cast<size_t>(index), scripts_.size() - 1)];
    auto record = [&](const char* data, size_t n) {
        std::lock_guard guard(lock_);
        received_[static_cast<size_t>(index)].append(data, n);
    };
    // Reads what is available within the wait; false once the client has closed.
    auto receiveSome = [&](std::string& got, int waitMs) {
        if (!WaitReadable(fd, waitMs)) return true;
        char buffer[65536];
        const long n = Receive(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        record(buffer, static_cast<size_t>(n));
        got.append(buffer, static_cast<size_t>(n));
        return true;
    };
    bool open = true;
    for (const Step& step : script.steps) {
        if (stop_ && step.kind != Step::Kind::Close && step.kind != Step::Kind::Reset) break;
        switch (step.kind) {
        case Step::Kind::Send: {
            if (step.number <= 0) {
                SendAll(fd, step.data.data(), step.data.size());
                break;
            }
            // Piece by piece until done, or until the server is going away.
            for (size_t at = 0; at < step.data.size() && !stop_;
                 at += static_cast<size_t>(step.number)) {
                const size_t n = std::min(static_cast<size_t>(step.number), step.data.size() - at);
                SendAll(fd, step.data.data() + at, n);
                if (step.delayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            }
            break;
        }
        case Step::Kind::ReceiveUntil: {
            std::string got;
            while (!stop_ && open && got.find(step.data) == std::string::npos)
                open = receiveSome(got, 20);
            break;
        }
        case Step::Kind::ReceiveBytes: {
            std::string got;
            while (!stop_ && open && static_cast<int>(got.size()) < step.number)
                open = receiveSome(got, 20);
            break;
        }
        case Step::Kind::Wait:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.number));
            break;
        case Step::Kind::Close: {
            // Stop sending, then read until the client closes so that no unread
            // bytes turn the close into a reset.
            ShutdownSending(fd);
            std::string ignored;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!stop_ && open && std::chrono::steady_clock::now() < until)
                open = receiveSome(ignored, 20);
            Close(fd);
            return;
        }
        case Step::Kind::Reset: {
            CloseWithReset(fd);
            return;
        }
        case Step::Kind::Stall:
            while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        }
    }
    // A script without an explicit end keeps reading until the client leaves.
    std::string rest;
    while (!stop_ && open) open = receiveSome(rest, 20);
    Close(fd);
}

bool LoopbackIPv6Available() {
    try {
        int port = 0;
        Close(OpenListener(true, 1, port));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int ClosedLoopbackPort() {
    int port = 0;
    Close(OpenListener(false, 1, port));
    return port;
}

SaturatedListener::SaturatedListener() {
    listener_ = OpenListener(false, 0, port_);
    // Fill the accept queue; the kernel then drops further connection requests.
    for (int i = 0; i < 4; ++i) fillers_.push_back(StartConnect(port_));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

SaturatedListener::~SaturatedListener() {
    for (auto fd : fillers_) Close(fd);
    Close(listener_);
}

} // namespace vyktest
