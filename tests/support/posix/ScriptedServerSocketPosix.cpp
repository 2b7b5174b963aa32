#include "tests/support/ScriptedServerSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vyktest::sockets {

namespace {

int Fd(Handle socket) {
    return static_cast<int>(socket);
}

} // namespace

Handle OpenListener(bool ipv6, int backlog, int& port) {
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

bool WaitReadable(Handle socket, int ms) {
    pollfd p{Fd(socket), POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

Handle Accept(Handle listener) {
    const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? kInvalid : fd;
}

void SendAll(Handle socket, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

long Receive(Handle socket, char* buffer, std::size_t size) {
    return static_cast<long>(::recv(Fd(socket), buffer, size, 0));
}

void ShutdownSending(Handle socket) {
    ::shutdown(Fd(socket), SHUT_WR);
}

void CloseWithReset(Handle socket) {
    linger l{1, 0};
    ::setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(Fd(socket));
}

void Close(Handle socket) {
    ::close(Fd(socket));
}

Handle StartConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

} // namespace vyktest::sockets
