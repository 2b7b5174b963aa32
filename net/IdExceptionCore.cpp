#include "net/IdExceptionCore.h"

#include "host/SystemError.h"

namespace {

struct SocketErrorEntry {
    int number;
    const char* text;
};

constexpr SocketErrorEntry kSocketErrors[] = {
    {Id_WSAEINTR, "Interrupted system call."},
    {Id_WSAEBADF, "Bad file number."},
    {Id_WSAEACCES, "Access denied."},
    {Id_WSAEFAULT, "Buffer fault."},
    {Id_WSAEINVAL, "Invalid argument."},
    {Id_WSAEMFILE, "Too many open files."},
    {Id_WSAEWOULDBLOCK, "Operation would block."},
    {Id_WSAEINPROGRESS, "Operation now in progress."},
    {Id_WSAEALREADY, "Operation already in progress."},
    {Id_WSAENOTSOCK, "Socket operation on non-socket."},
    {Id_WSAEDESTADDRREQ, "Destination address required."},
    {Id_WSAEMSGSIZE, "Message too long."},
    {Id_WSAEPROTOTYPE, "Protocol wrong type for socket."},
    {Id_WSAENOPROTOOPT, "Bad protocol option."},
    {Id_WSAEPROTONOSUPPORT, "Protocol not supported."},
    {Id_WSAESOCKTNOSUPPORT, "Socket type not supported."},
    {Id_WSAEOPNOTSUPP, "Operation not supported on socket."},
    {Id_WSAEPFNOSUPPORT, "Protocol family not supported."},
    {Id_WSAEAFNOSUPPORT, "Address family not supported by protocol family."},
    {Id_WSAEADDRINUSE, "Address already in use."},
    {Id_WSAEADDRNOTAVAIL, "Cannot assign requested address."},
    {Id_WSAENETDOWN, "Network is down."},
    {Id_WSAENETUNREACH, "Network is unreachable."},
    {Id_WSAENETRESET, "Net dropped connection or reset."},
    {Id_WSAECONNABORTED, "Software caused connection abort."},
    {Id_WSAECONNRESET, "Connection reset by peer."},
    {Id_WSAENOBUFS, "No buffer space available."},
    {Id_WSAEISCONN, "Socket is already connected."},
    {Id_WSAENOTCONN, "Socket is not connected."},
    {Id_WSAESHUTDOWN, "Cannot send or receive after socket is closed."},
    {Id_WSAETOOMANYREFS, "Too many references, cannot splice."},
    {Id_WSAETIMEDOUT, "Connection timed out."},
    {Id_WSAECONNREFUSED, "Connection refused."},
    {Id_WSAELOOP, "Too many levels of symbolic links."},
    {Id_WSAENAMETOOLONG, "File name too long."},
    {Id_WSAEHOSTDOWN, "Host is down."},
    {Id_WSAEHOSTUNREACH, "No route to host."},
    {Id_WSAENOTEMPTY, "Directory not empty"},
    {Id_WSAHOST_NOT_FOUND, "Host not found."},
};

} // namespace

EIdWinsockStubError::EIdWinsockStubError(const std::string& summary,
                                         std::uint32_t systemErrorNumber)
    : EIdException(systemErrorNumber == 0 ? summary
                                          : summary + ": " + ::SystemErrorText(systemErrorNumber)),
      systemErrorNumber_(systemErrorNumber),
      systemErrorText_(systemErrorNumber == 0 ? std::string()
                                              : ::SystemErrorText(systemErrorNumber)),
      summary_(summary) {}

std::string SocketErrorText(int errorNumber) {
    const char* text = "";
    for (const auto& entry : kSocketErrors) {
        if (entry.number == errorNumber) {
            text = entry.text;
            break;
        }
    }
    return Format("Socket Error # %d\r\n%s", errorNumber, text);
}

void RaiseForErrorNumber(int errorNumber) {
    const std::string message = SocketErrorText(errorNumber);
    if (errorNumber == Id_WSAENOTSOCK) throw EIdNotASocket(errorNumber, message);
    throw EIdSocketError(errorNumber, message);
}
