#include "tests/support/ScriptedServerSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

namespace vyktest::sockets {

namespace {

SOCKET Native(Handle socket) {
    return static_cast<SOCKET>(socket);
}

// The server's own start of the socket library, independent of the code under test.
struct LibraryStart {
    LibraryStart() {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~LibraryStart() { ::WSACleanup(); }
};

void EnsureStarted() {
    static LibraryStart start;
}

Handle FromNative(SOCKET socket) {
    return socket == INVALID_SOCKET ? kInvalid : static_cast<Handle>(socket);
}

} // namespace

Handle OpenListener(bool ipv6, int backlog, int& port) {
    EnsureStarted();
    const SOCKET s = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    // Without this another socket could bind the same port beside the listener.
    BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    int rc;
    if (ipv6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0 || ::listen(s, backlog) != 0) {
        ::closesocket(s);
        throw std::runtime_error("bind/listen failed");
    }
    sockaddr_storage a{};
    int len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    return static_cast<Handle>(s);
}

bool WaitReadable(Handle socket, int ms) {
    fd_set set;
    set.fd_count = 1;
    set.fd_array[0] = Native(socket);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &limit) > 0;
}

Handle Accept(Handle listener) {
    return FromNative(::accept(Native(listener), nullptr, nullptr));
}

void SendAll(Handle socket, const char* data, std::size_t size) {
    while (size > 0) {
        const int n = ::send(Native(socket), data, static_cast<int>(size), 0);
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

long Receive(Handle socket, char* buffer, std::size_t size) {
    return ::recv(Native(socket), buffer, static_cast<int>(size), 0);
}

void ShutdownSending(Handle socket) {
    ::shutdown(Native(socket), SD_SEND);
}

void CloseWithReset(Handle socket) {
    linger l{1, 0};
    ::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                 sizeof l);
    ::closesocket(Native(socket));
}

void Close(Handle socket) {
    ::closesocket(Native(socket));
}

Handle StartConnect(int port) {
    EnsureStarted();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return FromNative(s);
}

} // namespace vyktest::sockets
