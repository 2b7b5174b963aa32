#pragma once
// The few operating-system socket calls the scripted server needs, one source
// per platform. Loopback only; failures are reported the simple way tests need.

#include <cstddef>
#include <cstdint>

namespace vyktest::sockets {

using Handle = std::intptr_t;
constexpr Handle kInvalid = -1;

// A listener on 127.0.0.1 or ::1 with a system-chosen port; throws std::runtime_error.
Handle OpenListener(bool ipv6, int backlog, int& port);
// True when the socket has something to read (or a connection to accept) within ms.
bool WaitReadable(Handle socket, int ms);
// kInvalid when nothing could be accepted.
Handle Accept(Handle listener);
// Sends everything unless the peer has gone; never raises a signal.
void SendAll(Handle socket, const char* data, std::size_t size);
// Bytes received; 0 when the peer closed, negative on failure.
long Receive(Handle socket, char* buffer, std::size_t size);
void ShutdownSending(Handle socket);
// Closes so that the peer sees a connection reset.
void CloseWithReset(Handle socket);
void Close(Handle socket);
// Starts a connect to 127.0.0.1:port without waiting for it to complete.
Handle StartConnect(int port);

} // namespace vyktest::sockets
