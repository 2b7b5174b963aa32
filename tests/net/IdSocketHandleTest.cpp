#include "net/IdSocketHandle.h"

#include "net/IdExceptionCore.h"
#include "tests/support/Raised.h"
#include "tests/support/ScriptedServer.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

class SocketHandleTest : public ::testing::Test {
protected:
    TIdStackReference reference;
};

long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace

TEST_F(SocketHandleTest, BindWithoutLimitsTakesASystemPort) {
    TIdSocketHandle handle;
    handle.OpenHandle();
    handle.BindLocal();
    EXPECT_EQ(handle.IP, "0.0.0.0");
    EXPECT_GT(handle.Port, 0);
}

TEST_F(SocketHandleTest, ClientPortRangeIsTriedFromTheTop) {
    // Occupy the top port of a range so that the next one down is taken.
    const int top = vyktest::ClosedLoopbackPort();
    TIdSocketHandle blocker;
    blocker.OpenHandle();
    blocker.Port = top;
    blocker.IP = "127.0.0.1";
    blocker.BindLocal();

    TIdSocketHandle handle;
    handle.OpenHandle();
    handle.IP = "127.0.0.1";
    handle.ClientPortMin = top - 2;
    handle.ClientPortMax = top;
    handle.BindLocal();
    EXPECT_EQ(handle.Port, top - 1);
}

TEST_F(SocketHandleTest, BindFailuresHaveTheirOwnMessages) {
    TIdSocketHandle handle;
    handle.OpenHandle();
    handle.ClientPortMin = 5002;
    handle.ClientPortMax = 5000;
    EXPECT_STREQ(vyktest::Raised<EIdInvalidPortRange>([&] { handle.BindLocal(); }).what(),
                 "Invalid Port Range (5002 - 5000)");

    TIdSocketHandle first;
    first.OpenHandle();
    first.IP = "127.0.0.1";
    first.BindLocal();
    TIdSocketHandle second;
    second.OpenHandle();
    second.IP = "127.0.0.1";
    second.Port = first.Port;
    EXPECT_THROW(second.BindLocal(), EIdCouldNotBindSocket);
    TIdSocketHandle third;
    third.OpenHandle();
    third.IP = "127.0.0.1";
    third.ClientPortMin = first.Port;
    third.ClientPortMax = first.Port;
    try {
        third.BindLocal();
        FAIL();
    } catch (const EIdCanNotBindPortInRange& e) {
        EXPECT_EQ(std::string(e.what()), "Can not bind in port range (" +
                                             std::to_string(first.Port) + " - " +
                                             std::to_string(first.Port) + ")");
        EXPECT_EQ(third.Port, first.Port);
    }
}

TEST_F(SocketHandleTest, ConnectedPairExchangesBytes) {
    vyktest::ScriptedServer server(vyktest::Script().ReceiveUntil("ping").Send("pong").Close());
    TIdSocketHandle handle;
    handle.OpenHandle();
    handle.BindLocal();
    handle.SetPeerEndpoint("127.0.0.1", server.Port(), Id_IPv4);
    handle.ConnectToPeer();
    EXPECT_EQ(handle.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(handle.RemotePort(), server.Port());
    EXPECT_EQ(handle.IP, "127.0.0.1");
    EXPECT_EQ(handle.SendData(ToBytes("ping"), 0, -1), 4);
    ASSERT_TRUE(handle.WaitReadable(5000));
    TIdBytes in(32);
    const int n = handle.ReceiveData(in);
    EXPECT_EQ(BytesToString(in, 0, static_cast<size_t>(n)), "pong");
    ASSERT_TRUE(handle.WaitReadable(5000));
    EXPECT_EQ(handle.ReceiveData(in), 0); // the peer closed
}

TEST_F(SocketHandleTest, RefusedConnectPassesTheSocketErrorThrough) {
    TIdSocketHandle handle;
    handle.OpenHandle();
    handle.SetPeerEndpoint("127.0.0.1", vyktest::ClosedLoopbackPort(), Id_IPv4);
    EXPECT_EQ(vyktest::Raised<EIdSocketError>([&] { handle.ConnectToPeer(); }).ErrorNumber(),
              Id_WSAECONNREFUSED);
    EXPECT_TRUE(handle.IsOpen());
}

TEST_F(SocketHandleTest, WaitReadableHonoursItsLimit) {
    vyktest::ScriptedServer server(vyktest::Script().Stall());
    TIdSocketHandle handle;
    handle.OpenHandle();
    handle.SetPeerEndpoint("127.0.0.1", server.Port(), Id_IPv4);
    handle.ConnectToPeer();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(handle.WaitReadable(0));
    EXPECT_LT(ElapsedMs(start), 100);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(handle.WaitReadable(200));
    EXPECT_GE(ElapsedMs(start), 190);
}

TEST_F(SocketHandleTest, ClosedHandleRaisesOnWaitAndClosesOnlyOnce) {
    TIdSocketHandle handle;
    EXPECT_THROW(handle.WaitReadable(10), EIdConnClosedGracefully);
    handle.OpenHandle();
    EXPECT_TRUE(handle.IsOpen());
    handle.CloseBinding();
    EXPECT_FALSE(handle.IsOpen());
    EXPECT_EQ(handle.SocketValue(), Id_INVALID_SOCKET);
    EXPECT_NO_THROW(handle.CloseBinding());
    EXPECT_THROW(handle.WaitReadable(10), EIdConnClosedGracefully);
}

TEST_F(SocketHandleTest, IPVersionChangesOnlyWhileClosed) {
    TIdSocketHandle handle;
    handle.SetIPVersion(Id_IPv6);
    handle.SetIPVersion(Id_IPv4);
    handle.OpenHandle();
    EXPECT_NO_THROW(handle.SetIPVersion(Id_IPv4));
    EXPECT_THROW(handle.SetIPVersion(Id_IPv6), EIdCannotSetIPVersionWhenConnected);
}

TEST(SocketList, HoldsAtMostSixtyFourSockets) {
    TIdSocketList set;
    for (int i = 0; i < 64; ++i) set.AddSocket(100 + i);
    EXPECT_EQ(set.SocketCount(), 64);
    EXPECT_THROW(set.AddSocket(999), EIdStackSetSizeExceeded);
    EXPECT_THROW(set.SocketAt(64), EIdStackSetSizeExceeded);
    EXPECT_THROW(set.SocketAt(-1), EIdStackSetSizeExceeded);
    set.RemoveSocket(100);
    EXPECT_EQ(set.SocketAt(0), 163); // the last one moved into the gap
    EXPECT_FALSE(set.ContainsSocket(100));
    auto copy = set.CopySet();
    EXPECT_EQ(copy->SocketCount(), 63);
    set.ClearSet();
    EXPECT_EQ(set.SocketCount(), 0);
}
