#pragma once
// The tree of network error classes. Classes that carry data beyond their
// message are spelled out; the rest only narrow their base.

#include "net/IdException.h"

#include <cstdint>
#include <string>

VYK_DECLARE_EXCEPTION(EIdSilentException, EIdException);

VYK_DECLARE_EXCEPTION_TEXT(EIdConnClosedGracefully, EIdSilentException,
                           "Connection Closed Gracefully.");

class EIdSocketError : public EIdException {
public:
    EIdSocketError(int errorNumber, const std::string& message)
        : EIdException(message), errorNumber_(errorNumber) {}
    int ErrorNumber() const noexcept { return errorNumber_; }

private:
    int errorNumber_;
};

VYK_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError);

// A socket library that cannot be loaded, or a library function called before it is.
class EIdWinsockStubError : public EIdException {
public:
    EIdWinsockStubError(const std::string& summary, std::uint32_t systemErrorNumber);
    std::uint32_t SystemErrorNumber() const noexcept { return systemErrorNumber_; }
    const std::string& SystemErrorText() const noexcept { return systemErrorText_; }
    const std::string& Summary() const noexcept { return summary_; }

private:
    std::uint32_t systemErrorNumber_;
    std::string systemErrorText_;
    std::string summary_;
};

VYK_DECLARE_EXCEPTION(EIdStackError, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdStackInitializationFailed, EIdStackError,
                           "Winsock Initialization Error.");
VYK_DECLARE_EXCEPTION_TEXT(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.");
VYK_DECLARE_EXCEPTION_TEXT(EIdIPVersionUnsupported, EIdStackError,
                           "The requested IPVersion / Address family is not supported.");
VYK_DECLARE_EXCEPTION(EIdIPv6Unavailable, EIdException);
VYK_DECLARE_EXCEPTION(EIdInvalidServiceName, EIdException);
VYK_DECLARE_EXCEPTION(EIdInvalidIPv6Address, EIdException);
VYK_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdPackageSizeTooBig, EIdSocketHandleError, "Package Size Too Big.");
VYK_DECLARE_EXCEPTION_TEXT(EIdNotAllBytesSent, EIdSocketHandleError, "Not all bytes sent.");
VYK_DECLARE_EXCEPTION_TEXT(EIdCouldNotBindSocket, EIdSocketHandleError,
                           "Could not bind socket. Address and port are already in use.");
VYK_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION_TEXT(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError,
                           "Cannot change IPVersion when connected");
VYK_DECLARE_EXCEPTION(EIdRangeException, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdFailedToRetreiveTimeZoneInfo, EIdException,
                           "Failed attempting to retrieve time zone information.");
VYK_DECLARE_EXCEPTION_TEXT(EIdAlreadyConnected, EIdException, "Already connected.");
VYK_DECLARE_EXCEPTION_TEXT(EIdClosedSocket, EIdException, "Disconnected.");
VYK_DECLARE_EXCEPTION_TEXT(EIdReadTimeout, EIdException, "Read Timeout");
VYK_DECLARE_EXCEPTION_TEXT(EIdReadLnMaxLineLengthExceeded, EIdException,
                           "Max line length exceeded.");
VYK_DECLARE_EXCEPTION_TEXT(EIdPortRequired, EIdException, "");
VYK_DECLARE_EXCEPTION_TEXT(EIdHostRequired, EIdException, "");
VYK_DECLARE_EXCEPTION_TEXT(EIdNotConnected, EIdException, "Not connected.");
VYK_DECLARE_EXCEPTION_TEXT(EIdConnectTimeout, EIdException, "Connect timed out.");
// A bound on a whole transfer passed (TIdTransferWatch): its time limit, or
// the pace it had to keep.
VYK_DECLARE_EXCEPTION(EIdTransferLimit, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdTransferTimeout, EIdTransferLimit, "Transfer timed out.");
VYK_DECLARE_EXCEPTION(EIdLowSpeedTimeout, EIdTransferLimit);
// The transfer's owner asked it to stop (TIdTCPConnection::AbortSignal).
VYK_DECLARE_EXCEPTION_TEXT(EIdTransferAborted, EIdException, "Transfer aborted.");
VYK_DECLARE_EXCEPTION(EIdConnectException, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdMaxCaptureLineExceeded, EIdException,
                           "Maximum number of line allowed exceeded");
VYK_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdTooMuchDataInBuffer, EIdException, "Too much data in buffer.");
VYK_DECLARE_EXCEPTION_TEXT(EIdInterceptCircularLink, EIdException,
                           "TIdConnectionIntercept: Circular links are not allowed");
VYK_DECLARE_EXCEPTION(EIdTCPConnectionError, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdObjectTypeNotSupported, EIdTCPConnectionError,
                           "Object type not supported.");
VYK_DECLARE_EXCEPTION_TEXT(EIdIOHandlerPropInvalid, EIdTCPConnectionError,
                           "IOHandler value is not valid");
VYK_DECLARE_EXCEPTION_TEXT(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");
VYK_DECLARE_EXCEPTION(EIdFileNotFound, EIdTCPConnectionError);
VYK_DECLARE_EXCEPTION(EIdIoHandler, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdIoHandlerRequiresLargeStream, EIdIoHandler, "");
VYK_DECLARE_EXCEPTION(EIdSSLProtocolReplyError, EIdException);
// A TLS handshake or record that failed, with the library's reason.
VYK_DECLARE_EXCEPTION(EIdTLSError, EIdException);
// The peer's certificate did not verify; the text names the check.
VYK_DECLARE_EXCEPTION(EIdTLSCertificateError, EIdTLSError);
// A body that ended with the connection, without the peer's close_notify.
VYK_DECLARE_EXCEPTION_TEXT(
    EIdTLSTruncated, EIdTLSError,
    "The connection ended without the server's TLS close_notify: the body may be cut short.");
VYK_DECLARE_EXCEPTION(EIdReplyError, EIdException);

class EIdReplyRFCError : public EIdReplyError {
public:
    EIdReplyRFCError(int replyCode, const std::string& message)
        : EIdReplyError(message), replyCode_(replyCode) {}
    int ReplyCode() const noexcept { return replyCode_; }

private:
    int replyCode_;
};

class EIdHTTPProtocolException : public EIdReplyRFCError {
public:
    EIdHTTPProtocolException(int replyCode, const std::string& message, std::string replyContent)
        : EIdReplyRFCError(replyCode, message), replyContent_(std::move(replyContent)) {}
    const std::string& ReplyContent() const noexcept { return replyContent_; }

private:
    std::string replyContent_;
};

VYK_DECLARE_EXCEPTION(EIdURIException, EIdException);
VYK_DECLARE_EXCEPTION_TEXT(EIdUnknownProtocol, EIdException, "Unknown Protocol");
VYK_DECLARE_EXCEPTION(EIdAlreadyRegisteredAuthenticationMethod, EIdException);
VYK_DECLARE_EXCEPTION(EIdTransparentProxyCantBind, EIdException);
VYK_DECLARE_EXCEPTION(EIdTransparentProxyCircularLink, EIdException);
VYK_DECLARE_EXCEPTION(EIdTransparentProxyUDPNotSupported, EIdException);
VYK_DECLARE_EXCEPTION(EIdSocksUDPNotSupportedBySOCKSVersion, EIdException);
VYK_DECLARE_EXCEPTION(EIdSocksError, EIdException);
VYK_DECLARE_EXCEPTION(EIdSocksRequestFailed, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksRequestServerFailed, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksRequestIdentFailed, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksUnknownError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerRespondError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksAuthMethodError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksAuthError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerGeneralError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerPermissionError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerNetUnreachableError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerHostUnreachableError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerConnectionRefusedError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerTTLExpiredError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerCommandError, EIdSocksError);
VYK_DECLARE_EXCEPTION(EIdSocksServerAddressError, EIdSocksError);

// Windows Sockets error numbers, on every platform the numbers socket errors carry.
constexpr int Id_WSAEINTR = 10004;
constexpr int Id_WSAEBADF = 10009;
constexpr int Id_WSAEACCES = 10013;
constexpr int Id_WSAEFAULT = 10014;
constexpr int Id_WSAEINVAL = 10022;
constexpr int Id_WSAEMFILE = 10024;
constexpr int Id_WSAEWOULDBLOCK = 10035;
constexpr int Id_WSAEINPROGRESS = 10036;
constexpr int Id_WSAEALREADY = 10037;
constexpr int Id_WSAENOTSOCK = 10038;
constexpr int Id_WSAEDESTADDRREQ = 10039;
constexpr int Id_WSAEMSGSIZE = 10040;
constexpr int Id_WSAEPROTOTYPE = 10041;
constexpr int Id_WSAENOPROTOOPT = 10042;
constexpr int Id_WSAEPROTONOSUPPORT = 10043;
constexpr int Id_WSAESOCKTNOSUPPORT = 10044;
constexpr int Id_WSAEOPNOTSUPP = 10045;
constexpr int Id_WSAEPFNOSUPPORT = 10046;
constexpr int Id_WSAEAFNOSUPPORT = 10047;
constexpr int Id_WSAEADDRINUSE = 10048;
constexpr int Id_WSAEADDRNOTAVAIL = 10049;
constexpr int Id_WSAENETDOWN = 10050;
constexpr int Id_WSAENETUNREACH = 10051;
constexpr int Id_WSAENETRESET = 10052;
constexpr int Id_WSAECONNABORTED = 10053;
constexpr int Id_WSAECONNRESET = 10054;
constexpr int Id_WSAENOBUFS = 10055;
constexpr int Id_WSAEISCONN = 10056;
constexpr int Id_WSAENOTCONN = 10057;
constexpr int Id_WSAESHUTDOWN = 10058;
constexpr int Id_WSAETOOMANYREFS = 10059;
constexpr int Id_WSAETIMEDOUT = 10060;
constexpr int Id_WSAECONNREFUSED = 10061;
constexpr int Id_WSAELOOP = 10062;
constexpr int Id_WSAENAMETOOLONG = 10063;
constexpr int Id_WSAEHOSTDOWN = 10064;
constexpr int Id_WSAEHOSTUNREACH = 10065;
constexpr int Id_WSAENOTEMPTY = 10066;
constexpr int Id_WSANOTINITIALISED = 10093;
constexpr int Id_WSATYPE_NOT_FOUND = 10109;
constexpr int Id_WSAHOST_NOT_FOUND = 11001;
constexpr int Id_WSATRY_AGAIN = 11002;
constexpr int Id_WSANO_RECOVERY = 11003;
constexpr int Id_WSANO_DATA = 11004;

// Socket error numbers (Windows Sockets numbering) and their message texts.
std::string SocketErrorText(int errorNumber);
// Raises EIdNotASocket for Id_WSAENOTSOCK and EIdSocketError for every other number.
[[noreturn]] void RaiseForErrorNumber(int errorNumber);
