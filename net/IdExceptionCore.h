#pragma once
// The tree of network error classes. Classes that carry data beyond their
// message are spelled out; the rest only narrow their base.

#include "net/IdException.h"

#include <cstdint>
#include <string>

VYK_DECLARE_EXCEPTION(EIdSilentException, EIdException);

class EIdConnClosedGracefully : public EIdSilentException {
public:
    EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
    explicit EIdConnClosedGracefully(const std::string& message) : EIdSilentException(message) {}
};

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
VYK_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
VYK_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
VYK_DECLARE_EXCEPTION(EIdIPVersionUnsupported, EIdStackError);
VYK_DECLARE_EXCEPTION(EIdIPv6Unavailable, EIdException);
VYK_DECLARE_EXCEPTION(EIdInvalidServiceName, EIdException);
VYK_DECLARE_EXCEPTION(EIdInvalidIPv6Address, EIdException);
VYK_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException);
VYK_DECLARE_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError);
VYK_DECLARE_EXCEPTION(EIdRangeException, EIdException);
VYK_DECLARE_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);
VYK_DECLARE_EXCEPTION(EIdAlreadyConnected, EIdException);
VYK_DECLARE_EXCEPTION(EIdClosedSocket, EIdException);
VYK_DECLARE_EXCEPTION(EIdReadTimeout, EIdException);
VYK_DECLARE_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException);
VYK_DECLARE_EXCEPTION(EIdPortRequired, EIdException);
VYK_DECLARE_EXCEPTION(EIdHostRequired, EIdException);
VYK_DECLARE_EXCEPTION(EIdNotConnected, EIdException);
VYK_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException);
// A bound on a whole transfer passed (TIdTransferWatch): its time limit, or
// the pace it had to keep.
VYK_DECLARE_EXCEPTION(EIdTransferLimit, EIdException);
VYK_DECLARE_EXCEPTION(EIdTransferTimeout, EIdTransferLimit);
VYK_DECLARE_EXCEPTION(EIdLowSpeedTimeout, EIdTransferLimit);
VYK_DECLARE_EXCEPTION(EIdConnectException, EIdException);
VYK_DECLARE_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException);
VYK_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);
VYK_DECLARE_EXCEPTION(EIdTooMuchDataInBuffer, EIdException);
VYK_DECLARE_EXCEPTION(EIdInterceptCircularLink, EIdException);
VYK_DECLARE_EXCEPTION(EIdTCPConnectionError, EIdException);
VYK_DECLARE_EXCEPTION(EIdObjectTypeNotSupported, EIdTCPConnectionError);
VYK_DECLARE_EXCEPTION(EIdIOHandlerPropInvalid, EIdTCPConnectionError);
VYK_DECLARE_EXCEPTION(EIdNoDataToRead, EIdTCPConnectionError);
VYK_DECLARE_EXCEPTION(EIdFileNotFound, EIdTCPConnectionError);
VYK_DECLARE_EXCEPTION(EIdIoHandler, EIdException);
VYK_DECLARE_EXCEPTION(EIdIoHandlerRequiresLargeStream, EIdIoHandler);
VYK_DECLARE_EXCEPTION(EIdSSLProtocolReplyError, EIdException);
// A TLS handshake or record that failed, with the library's reason.
VYK_DECLARE_EXCEPTION(EIdTLSError, EIdException);
// The peer's certificate did not verify; the text names the check.
VYK_DECLARE_EXCEPTION(EIdTLSCertificateError, EIdTLSError);
// A body that ended with the connection, without the peer's close_notify.
VYK_DECLARE_EXCEPTION(EIdTLSTruncated, EIdTLSError);
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
VYK_DECLARE_EXCEPTION(EIdUnknownProtocol, EIdException);
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

// Socket error numbers (Windows Sockets numbering) and their message texts.
std::string SocketErrorText(int errorNumber);
// Raises EIdNotASocket for 10038 and EIdSocketError for every other number.
[[noreturn]] void RaiseForErrorNumber(int errorNumber);
