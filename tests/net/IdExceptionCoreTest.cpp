#include "net/IdExceptionCore.h"
#include "host/SignatureEngine.h"
#include "host/Stream.h"
#include "net/IdStack.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

// Each named number and its text: a name of the wrong value, or a text
// that moved, gives another number a text; no other number has one.
TEST(SocketErrorText, EachNamedNumberAndNoOther) {
    const std::pair<int, std::string> rows[] = {
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
        {Id_WSANOTINITIALISED, ""},
        {Id_WSATYPE_NOT_FOUND, ""},
        {Id_WSATRY_AGAIN, ""},
        {Id_WSANO_RECOVERY, ""},
        {Id_WSANO_DATA, ""}};
    std::map<int, std::string> texts;
    for (const auto& [number, text] : rows) texts[number] = text;
    EXPECT_EQ(texts.size(), std::size(rows)) << "two names for one number";
    for (int n = 0; n < 12000; ++n)
        EXPECT_EQ(SocketErrorText(n), "Socket Error # " + std::to_string(n) + "\r\n" + texts[n])
            << n;
}

TEST(RaiseForErrorNumber, NotASocketIsAlsoASocketError) {
    try {
        RaiseForErrorNumber(Id_WSAENOTSOCK);
    } catch (const EIdNotASocket& e) {
        EXPECT_EQ(e.ErrorNumber(), Id_WSAENOTSOCK);
        EXPECT_STREQ(e.what(), "Socket Error # 10038\r\nSocket operation on non-socket.");
    }
    EXPECT_THROW(RaiseForErrorNumber(Id_WSAENOTSOCK), EIdSocketError);
    try {
        RaiseForErrorNumber(Id_WSAECONNRESET);
    } catch (const EIdNotASocket&) {
        FAIL() << "10054 is not 10038";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorNumber(), Id_WSAECONNRESET);
    }
}

TEST(StubError, MessageWithAndWithoutSystemNumber) {
    const EIdWinsockStubError plain("Error on loading Winsock2 library (WS2_32.DLL)", 0);
    EXPECT_STREQ(plain.what(), "Error on loading Winsock2 library (WS2_32.DLL)");
    EXPECT_EQ(plain.SystemErrorText(), "");

    const EIdWinsockStubError withNumber("Error on call Winsock2 library function send", 2);
    EXPECT_EQ(withNumber.SystemErrorNumber(), 2u);
    EXPECT_FALSE(withNumber.SystemErrorText().empty());
    EXPECT_EQ(std::string(withNumber.what()),
              "Error on call Winsock2 library function send: " + withNumber.SystemErrorText());
    EXPECT_EQ(withNumber.Summary(), "Error on call Winsock2 library function send");
}

TEST(ExceptionTree, ClassesDeriveAsDeclared) {
    EXPECT_THROW(throw EIdConnClosedGracefully(), EIdSilentException);
    EXPECT_THROW(throw EIdConnClosedGracefully(), EIdException);
    EXPECT_THROW(throw EIdHTTPProtocolException(404, "x", ""), EIdReplyRFCError);
    EXPECT_THROW(throw EIdHTTPProtocolException(404, "x", ""), EIdReplyError);
    EXPECT_THROW(throw EIdStackSetSizeExceeded(), EIdStackError);
    EXPECT_THROW(throw EIdInvalidPortRange(""), EIdSocketHandleError);
    EXPECT_THROW(throw EIdIOHandlerPropInvalid(), EIdTCPConnectionError);
    EXPECT_THROW(throw EIdIoHandlerRequiresLargeStream(), EIdIoHandler);
    EXPECT_THROW(throw EIdSocksServerTTLExpiredError(""), EIdSocksError);
    EXPECT_THROW(throw EIdException(""), Exception);
    EXPECT_THROW(throw ERangeError(), Exception);
}

// Each class that always carries one text, and each text named for several sites.
TEST(ExceptionTree, FixedTexts) {
    const std::pair<std::string, const char*> rows[] = {
        {EIdAlreadyConnected().what(), "Already connected."},
        {EIdCannotSetIPVersionWhenConnected().what(), "Cannot change IPVersion when connected"},
        {EIdClosedSocket().what(), "Disconnected."},
        {EIdConnClosedGracefully().what(), "Connection Closed Gracefully."},
        {EIdConnectTimeout().what(), "Connect timed out."},
        {EIdCouldNotBindSocket().what(),
         "Could not bind socket. Address and port are already in use."},
        {EIdFailedToRetreiveTimeZoneInfo().what(),
         "Failed attempting to retrieve time zone information."},
        {EIdHostRequired().what(), ""},
        {EIdIOHandlerPropInvalid().what(), "IOHandler value is not valid"},
        {EIdIPVersionUnsupported().what(),
         "The requested IPVersion / Address family is not supported."},
        {EIdInterceptCircularLink().what(),
         "TIdConnectionIntercept: Circular links are not allowed"},
        {EIdIoHandlerRequiresLargeStream().what(), ""},
        {EIdMaxCaptureLineExceeded().what(), "Maximum number of line allowed exceeded"},
        {EIdNoDataToRead().what(), "No data to read."},
        {EIdNotAllBytesSent().what(), "Not all bytes sent."},
        {EIdNotConnected().what(), "Not connected."},
        {EIdObjectTypeNotSupported().what(), "Object type not supported."},
        {EIdPackageSizeTooBig().what(), "Package Size Too Big."},
        {EIdPortRequired().what(), ""},
        {EIdReadLnMaxLineLengthExceeded().what(), "Max line length exceeded."},
        {EIdReadTimeout().what(), "Read Timeout"},
        {EIdStackInitializationFailed().what(), "Winsock Initialization Error."},
        {EIdStackSetSizeExceeded().what(), "Set Size Exceeded."},
        {EIdTLSTruncated().what(),
         "The connection ended without the server's TLS close_notify: the body may be cut short."},
        {EIdTooMuchDataInBuffer().what(), "Too much data in buffer."},
        {EIdTransferTimeout().what(), "Transfer timed out."},
        {EIdTransferAborted().what(), "Transfer aborted."},
        {EIdUnknownProtocol().what(), "Unknown Protocol"},
        {EIntOverflow().what(), "Integer overflow"},
        {ERangeError().what(), "Range check error"},
        {EReadError().what(), "Stream read error"},
        {EWriteError().what(), "Stream write error"},
        {kNotConnectedText, "Not Connected"},
        {kSignatureNoSignedData, "no PKCS#7 SignedData"},
        {kSignatureNotOneSigner, "not exactly one signer"},
        {kSignatureCertificateMissing, "the signer's certificate is not in the signature"}};
    for (const auto& [text, expected] : rows) EXPECT_EQ(text, expected);
}

TEST(ExceptionTree, DataAndMessages) {
    const EIdHTTPProtocolException e(404, "HTTP/1.1 404 Not Found", "<html>");
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.ReplyContent(), "<html>");
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
    EXPECT_STREQ(EConvertError::InvalidInteger("1x").what(), "'1x' is not a valid integer value");
    EXPECT_EQ(std::string(EOSError(5, "Access is denied").what()),
              "System Error.  Code: 5.\r\nAccess is denied");
}

TEST(RaiseHelpers, RaiseOnlyWhenTheConditionHolds) {
    EXPECT_THROW(RaiseNow<EIdURIException>("x"), EIdURIException);
    EXPECT_NO_THROW(RaiseWhen<EIdException>(false, "x"));
    EXPECT_THROW(RaiseWhen<EIdException>(true, "x"), EIdException);
    EXPECT_NO_THROW(RaiseUnless<EIdException>(true, "x"));
    EXPECT_THROW(RaiseUnless<EIdException>(false, "x"), EIdException);
    int* none = nullptr;
    int value = 1;
    EXPECT_NO_THROW(RaiseWhenPresent<EIdException>(none));
    EXPECT_THROW(RaiseWhenPresent<EIdException>(&value), EIdException);
    EXPECT_THROW(RaiseWhenAbsent<EIdException>(none), EIdException);
    EXPECT_NO_THROW(RaiseOutsideRange<EIdException>(5, 0, 5));
    EXPECT_THROW(RaiseOutsideRange<EIdException>(6, 0, 5), EIdException);
    EXPECT_THROW(RaiseOutsideRange<EIdException>(-1, 0, 5), EIdException);
}

TEST(CheckSocketResult, ToleratedErrorsAreReturned) {
    TIdStackReference reference;
    TIdStack* stack = CurrentStack();
    EXPECT_EQ(stack->CheckSocketResult(5), 5);
    EXPECT_EQ(stack->CheckSocketResultTolerating(3, {Id_WSAEWOULDBLOCK}), 0);
    // Provoke a real last error: a receive on a socket that was never connected.
    const auto socket = stack->OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    char byte;
    const int r = stack->RawReceive(socket, &byte, 1, 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(stack->CheckSocketResultTolerating(r, {Id_WSAENOTCONN}), Id_WSAENOTCONN);
    EXPECT_THROW(stack->CheckSocketResult(r), EIdSocketError);
    stack->RawClose(socket);
}
