#pragma once
// A loopback server for tests that plays one script per accepted connection and
// records what each client sent. It uses the operating system's sockets
// directly, so it does not depend on the classes under test.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vyktest {

struct Step {
    enum class Kind { Send, ReceiveUntil, ReceiveBytes, Wait, Close, Reset, Stall };
    Kind kind;
    std::string data; // bytes to send, or the pattern to receive up to
    int number = 0;   // byte count, milliseconds or piece size
    int delayMs = 0;  // pause between pieces of a Send
};

class Script {
public:
    // Sends the bytes, in pieces of pieceSize with delayMs between them when given.
    Script& Send(std::string bytes, int pieceSize = 0, int delayMs = 0);
    // Reads until the pattern has arrived (or the client closes).
    Script& ReceiveUntil(std::string pattern);
    // Reads a request head: everything up to the empty line.
    Script& ReceiveHead() { return ReceiveUntil("\r\n\r\n"); }
    Script& ReceiveBytes(int count);
    Script& Wait(int ms);
    // Graceful close: the client sees the end of the stream after all sent bytes.
    Script& Close();
    // Abortive close: the client sees a connection reset.
    Script& Reset();
    // Keeps the connection open, doing nothing, until the server stops.
    Script& Stall();

    std::vector<Step> steps;
};

class ScriptedServer {
public:
    // Connection n plays scripts[n], the last script for all later ones.
    explicit ScriptedServer(std::vector<Script> scripts, bool ipv6 = false);
    explicit ScriptedServer(Script script, bool ipv6 = false)
        : ScriptedServer(std::vector<Script>{std::move(script)}, ipv6) {}
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    int Connections() const { return accepted_.load(); }
    // Everything connection n sent so far.
    std::string Received(int connection = 0) const;
    // Everything every connection sent, in connection order.
    std::string AllReceived() const;

private:
    void AcceptLoop();
    void Play(int index, std::intptr_t socket);

    std::vector<Script> scripts_;
    bool ipv6_;
    std::intptr_t listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex lock_;
    std::vector<std::string> received_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// True when the machine can listen on ::1.
bool LoopbackIPv6Available();

// A free loopback port with nothing listening on it.
int ClosedLoopbackPort();

// A listener whose accept queue is full, so further connects never complete.
class SaturatedListener {
public:
    SaturatedListener();
    ~SaturatedListener();
    int Port() const { return port_; }

private:
    std::intptr_t listener_ = -1;
    std::vector<std::intptr_t> fillers_;
    int port_ = 0;
};

} // namespace vyktest
