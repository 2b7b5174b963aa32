#include "net/windows/IdStackWindows.h"

#include "net/IdExceptionCore.h"
#include "net/IdSocketList.h"
#include "tests/support/Raised.h"
#include "tests/support/ScriptedServer.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

class WindowsStackTest : public ::testing::Test {
protected:
    TIdStackReference reference;
    TIdStack& stack = *CurrentStack();

    TIdStackSocketHandle ConnectTo(int port) {
        const auto socket = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
        stack.ConnectEndpoint(socket, "127.0.0.1", Id_IPv4, port);
        return socket;
    }
};

} // namespace

TEST_F(WindowsStackTest, ErrorNumbersAreTheNativeOnes) {
    EXPECT_EQ(stack.RawClose(12345), Id_SOCKET_ERROR);
    EXPECT_EQ(stack.LastSocketError(), Id_WSAENOTSOCK);
    EXPECT_THROW(stack.CheckSocketResult(stack.RawClose(12345)), EIdNotASocket);
    const auto socket = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    EXPECT_FALSE(stack.IsWouldBlock(0));
    stack.SetBlockingMode(socket, false);
    TIdBytes buffer(8);
    // Not connected: a non-blocking receive fails with the native "not connected".
    EXPECT_EQ(stack.RawReceive(socket, buffer.data(), 8, 0), Id_SOCKET_ERROR);
    EXPECT_EQ(stack.LastSocketError(), Id_WSAENOTCONN);
    stack.RawClose(socket);
}

TEST_F(WindowsStackTest, UnknownIPv6NamePassesTheLibraryNumberThrough) {
    // The number's text is the table's (SocketErrorText).
    EXPECT_EQ(vyktest::Raised<EIdSocketError>([&] {
                  stack.NameToAddress("no-such-host.invalid", Id_IPv6);
              }).ErrorNumber(),
              Id_WSAHOST_NOT_FOUND);
}

TEST_F(WindowsStackTest, ReadinessWaitKeepsExactlyTheReadySockets) {
    vyktest::ScriptedServer server(
        {vyktest::Script().Stall(), vyktest::Script().Send("x").Stall()});
    const auto quiet = ConnectTo(server.Port());
    while (server.Connections() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto talking = ConnectTo(server.Port());

    TIdSocketList set;
    set.AddSocket(quiet);
    set.AddSocket(talking);
    std::unique_ptr<TIdSocketList> ready;
    ASSERT_TRUE(set.ReadySubset(ready, 5000));
    ASSERT_EQ(ready->SocketCount(), 1);
    EXPECT_EQ(ready->SocketAt(0), talking);
    EXPECT_EQ(set.SocketCount(), 2); // the waited-on set itself is unchanged

    TIdSocketList quietOnly;
    quietOnly.AddSocket(quiet);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(quietOnly.WaitReadableFor(300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

    // Waiting on nothing is refused, as by select itself.
    TIdSocketList empty;
    try {
        empty.WaitReadableFor(20);
        ADD_FAILURE() << "an empty set was waited on";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorNumber(), Id_WSAEINVAL);
    }
    stack.ShutdownAndClose(quiet);
    stack.ShutdownAndClose(talking);
}

TEST(WindowsErrorMapping, AddrInfoCodes) {
    const std::pair<int, int> rows[] = {{1, 0},
                                        {2, Id_WSATRY_AGAIN},
                                        {3, Id_WSAEINVAL},
                                        {4, Id_WSANO_RECOVERY},
                                        {5, Id_WSAEAFNOSUPPORT},
                                        {6, 8},
                                        {7, Id_WSANO_DATA},
                                        {8, Id_WSAHOST_NOT_FOUND},
                                        {9, Id_WSATYPE_NOT_FOUND},
                                        {10, Id_WSAESOCKTNOSUPPORT},
                                        {Id_WSAHOST_NOT_FOUND, Id_WSAHOST_NOT_FOUND},
                                        {Id_WSAETIMEDOUT, Id_WSAETIMEDOUT}};
    for (const auto& [code, number] : rows) EXPECT_EQ(MapAddrInfoError(code), number) << code;
}
