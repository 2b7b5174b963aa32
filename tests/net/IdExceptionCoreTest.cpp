#include "net/IdExceptionCore.h"
#include "net/IdStack.h"

#include <gtest/gtest.h>

TEST(SocketErrorText, ListedNumberGivesTwoLines) {
    EXPECT_EQ(SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
}

TEST(SocketErrorText, UnlistedNumberHasEmptySecondLine) {
    for (int n : {10091, 10092, 10093, 10101, 11002, 11003, 11004, 0})
        EXPECT_EQ(SocketErrorText(n), "Socket Error # " + std::to_string(n) + "\r\n");
}

TEST(SocketErrorText, DirectoryNotEmptyHasNoFullStop) {
    EXPECT_EQ(SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
}

TEST(SocketErrorText, TableHasExactlyThirtyNineEntries) {
    int listed = 0;
    for (int n = 0; n < 12000; ++n)
        if (SocketErrorText(n) != "Socket Error # " + std::to_string(n) + "\r\n") ++listed;
    EXPECT_EQ(listed, 39);
}

TEST(RaiseForErrorNumber, NotASocketIsAlsoASocketError) {
    try {
        RaiseForErrorNumber(10038);
    } catch (const EIdNotASocket& e) {
        EXPECT_EQ(e.ErrorNumber(), 10038);
        EXPECT_STREQ(e.what(), "Socket Error # 10038\r\nSocket operation on non-socket.");
    }
    EXPECT_THROW(RaiseForErrorNumber(10038), EIdSocketError);
    try {
        RaiseForErrorNumber(10054);
    } catch (const EIdNotASocket&) {
        FAIL() << "10054 is not 10038";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorNumber(), 10054);
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
    EXPECT_THROW(throw EIdStackSetSizeExceeded(""), EIdStackError);
    EXPECT_THROW(throw EIdInvalidPortRange(""), EIdSocketHandleError);
    EXPECT_THROW(throw EIdIOHandlerPropInvalid(""), EIdTCPConnectionError);
    EXPECT_THROW(throw EIdIoHandlerRequiresLargeStream(""), EIdIoHandler);
    EXPECT_THROW(throw EIdSocksServerTTLExpiredError(""), EIdSocksError);
    EXPECT_THROW(throw EIdException(""), Exception);
    EXPECT_THROW(throw ERangeError(), Exception);
}

TEST(ExceptionTree, DataAndMessages) {
    const EIdHTTPProtocolException e(404, "HTTP/1.1 404 Not Found", "<html>");
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.ReplyContent(), "<html>");
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
    EXPECT_STREQ(EIdConnClosedGracefully().what(), "Connection Closed Gracefully.");
    EXPECT_STREQ(EIdHostRequired("").what(), "");
    EXPECT_STREQ(ERangeError().what(), "Range check error");
    EXPECT_STREQ(EIntOverflow().what(), "Integer overflow");
    EXPECT_STREQ(EConvertError::InvalidInteger("1x").what(), "'1x' is not a valid integer value");
    EXPECT_EQ(std::string(EOSError(5, "Access is denied").what()),
              "System Error.  Code: 5.\r\nAccess is denied");
}

TEST(RaiseHelpers, RaiseOnlyWhenTheConditionHolds) {
    EXPECT_THROW(RaiseNow<EIdReadTimeout>("Read Timeout"), EIdReadTimeout);
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
    EXPECT_EQ(stack->CheckSocketResultTolerating(3, {10035}), 0);
    // Provoke a real last error: a receive on a socket that was never connected.
    const auto socket = stack->OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    char byte;
    const int r = stack->RawReceive(socket, &byte, 1, 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(stack->CheckSocketResultTolerating(r, {10057}), 10057);
    EXPECT_THROW(stack->CheckSocketResult(r), EIdSocketError);
    stack->RawClose(socket);
}
