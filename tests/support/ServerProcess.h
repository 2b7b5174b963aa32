#pragma once
// A server from Debian's packages (nginx, tinyproxy) that a test starts in the
// foreground on a loopback port with a configuration it wrote, and stops at the
// end. Start() says why when the server could not be started.

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vyktest {

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Runs command with its output in logFile and waits until port accepts;
    // empty on success, else what went wrong.
    std::string Start(const std::vector<std::string>& command, int port,
                      const std::string& logFile) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            std::vector<char*> argv;
            for (const auto& part : command) argv.push_back(const_cast<char*>(part.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return command[0] + " could not be started (exit status " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "); see " +
                       logFile;
            }
            if (Accepts(port)) return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Stop();
        return command[0] + " did not listen on port " + std::to_string(port) +
               " within 5 s; see " + logFile;
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    static bool Accepts(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    pid_t pid_ = -1;
};

} // namespace vyktest
