#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vyktest {

namespace {

int OpenListener(bool ipv6, int backlog, int& port) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int rc;
    if (ipv6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    sockaddr_storage s{};
    socklen_t len = sizeof s;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &len);
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&s)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&s)->sin_port);
    return fd;
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

void SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

} // namespace

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
    ::close(static_cast<int>(listener_));
}

std::string ScriptedServer::Url(const std::string& path) const {
    return std::string("http://") + (ipv6_ ? "[::1]" : "127.0.0.1") + ":" + std::to_string(port_) + path;
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
        if (!WaitReadable(static_cast<int>(listener_), 20)) continue;
        const int fd = ::accept4(static_cast<int>(listener_), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int index = accepted_++;
        {
            std::lock_guard guard(lock_);
            received_.resize(static_cast<size_t>(index) + 1);
        }
        workers_.emplace_back([this, index, fd] { Play(index, fd); });
    }
}

void ScriptedServer::Play(int index, std::intptr_t socket) {
    const int fd = static_cast<int>(socket);
    const Script& script = scripts_[std::min<size_t>(static_cast<size_t>(index), scripts_.size() - 1)];
    auto record = [&](const char* data, size_t n) {
        std::lock_guard guard(lock_);
        received_[static_cast<size_t>(index)].append(data, n);
    };
    // Reads what is available within the wait; false once the client has closed.
    auto receiveSome = [&](std::string& got, int waitMs) {
        if (!WaitReadable(fd, waitMs)) return true;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
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
            for (size_t at = 0; at < step.data.size(); at += static_cast<size_t>(step.number)) {
                const size_t n = std::min(static_cast<size_t>(step.number), step.data.size() - at);
                SendAll(fd, step.data.data() + at, n);
                if (step.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            }
            break;
        }
        case Step::Kind::ReceiveUntil: {
            std::string got;
            while (!stop_ && open && got.find(step.data) == std::string::npos) open = receiveSome(got, 20);
            break;
        }
        case Step::Kind::ReceiveBytes: {
            std::string got;
            while (!stop_ && open && static_cast<int>(got.size()) < step.number) open = receiveSome(got, 20);
            break;
        }
        case Step::Kind::Wait:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.number));
            break;
        case Step::Kind::Close: {
            // Stop sending, then read until the client closes so that no unread
            // bytes turn the close into a reset.
            ::shutdown(fd, SHUT_WR);
            std::string ignored;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!stop_ && open && std::chrono::steady_clock::now() < until) open = receiveSome(ignored, 20);
            ::close(fd);
            return;
        }
        case Step::Kind::Reset: {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::close(fd);
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
    ::close(fd);
}

bool LoopbackIPv6Available() {
    try {
        int port = 0;
        const int fd = OpenListener(true, 1, port);
        ::close(fd);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int ClosedLoopbackPort() {
    int port = 0;
    const int fd = OpenListener(false, 1, port);
    ::close(fd);
    return port;
}

SaturatedListener::SaturatedListener() {
    listener_ = OpenListener(false, 0, port_);
    // Fill the accept queue; the kernel then drops further connection requests.
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

SaturatedListener::~SaturatedListener() {
    for (auto fd : fillers_) ::close(static_cast<int>(fd));
    ::close(static_cast<int>(listener_));
}

} // namespace vyktest
