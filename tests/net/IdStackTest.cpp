#include "net/IdStack.h"

#include "PlatformStack.h"
#include "net/IdExceptionCore.h"
#include "tests/support/Raised.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

namespace {

// Counts stack objects made and destroyed through the stack kind.
struct CountingStack : TIdPlatformStack {
    static inline int created = 0;
    static inline int destroyed = 0;
    CountingStack() { ++created; }
    ~CountingStack() override { ++destroyed; }
};

} // namespace

TEST(StackLifetime, FirstUserCreatesLastUserDestroys) {
    ASSERT_EQ(StackUsers(), 0);
    SetStackKind([] { return std::unique_ptr<TIdStack>(std::make_unique<CountingStack>()); });
    CountingStack::created = CountingStack::destroyed = 0;
    {
        TIdStackReference first;
        EXPECT_NE(CurrentStack(), nullptr);
        EXPECT_EQ(CurrentStack()->OwnHostName, CurrentStack()->LocalHostName());
        TIdStackReference second;
        EXPECT_EQ(StackUsers(), 2);
        EXPECT_EQ(CountingStack::created, 1);
    }
    EXPECT_EQ(CurrentStack(), nullptr);
    EXPECT_EQ(CountingStack::destroyed, 1);
    const int starts = StackLibraryStartCount();
    {
        TIdStackReference again;
        EXPECT_EQ(CountingStack::created, 2);
    }
    EXPECT_TRUE(StackLibraryStarted());
    EXPECT_EQ(StackLibraryStartCount(), starts);
    SetStackKind(DefaultStackKind());
}

TEST(StackLifetime, MissingStackKindIsReported) {
    SetStackKind(nullptr);
    EXPECT_STREQ(vyktest::Raised<EIdException>([&] { AcquireStack(); }).what(),
                 "Stack Class is undefined.");
    EXPECT_EQ(StackUsers(), 0);
    SetStackKind(DefaultStackKind());
}

class StackTest : public ::testing::Test {
protected:
    TIdStackReference reference;
    TIdStack& stack = *CurrentStack();
};

TEST_F(StackTest, LocalhostAndLiteralsNeedNoResolver) {
    EXPECT_EQ(stack.LookupHost("LOCALHOST", Id_IPv4), "127.0.0.1");
    EXPECT_EQ(stack.LookupHost("localhost", Id_IPv4), "127.0.0.1");
    EXPECT_EQ(stack.LookupHost("LocalHost", Id_IPv4), "127.0.0.1");
    EXPECT_EQ(stack.LookupHost("10.1.2.3", Id_IPv4), "10.1.2.3");
    EXPECT_EQ(stack.LookupHost("::1", Id_IPv6), "0:0:0:0:0:0:0:1");
}

TEST_F(StackTest, UnknownHostRaises11001) {
    vyktest::InvalidNamesUnknown noResolver;
    // The number's text is the table's (SocketErrorText).
    EXPECT_EQ(vyktest::Raised<EIdSocketError>([&] {
                  stack.LookupHost("no-such-host.invalid", Id_IPv4);
              }).ErrorNumber(),
              Id_WSAHOST_NOT_FOUND);
}

TEST_F(StackTest, AddressTextsConvertBothWays) {
    const TIdBytes v4 = stack.TextToAddress("192.168.0.10", Id_IPv4);
    EXPECT_EQ(v4, (TIdBytes{192, 168, 0, 10}));
    EXPECT_EQ(stack.AddressToText(v4.data(), Id_IPv4), "192.168.0.10");
    const TIdBytes v6 = stack.TextToAddress("::1", Id_IPv6);
    EXPECT_EQ(stack.AddressToText(v6.data(), Id_IPv6), "0:0:0:0:0:0:0:1");
    EXPECT_THROW(stack.TextToAddress("1.2.3.256", Id_IPv4), ERangeError);
    EXPECT_THROW(stack.TextToAddress("1.x.3.4", Id_IPv4), EConvertError);
    EXPECT_STREQ(vyktest::Raised<EIdInvalidIPv6Address>([&] {
                     stack.TextToAddress("nope", Id_IPv6);
                 }).what(),
                 "nope is not a valid IPv6 address");
    EXPECT_THROW(stack.TextToAddress("1.2.3.4", static_cast<TIdIPVersion>(7)),
                 EIdIPVersionUnsupported);
}

TEST_F(StackTest, ByteOrderAndChecksum) {
    EXPECT_EQ(stack.HostOrder16ToNet(0x1234), 0x3412);
    EXPECT_EQ(stack.NetOrder64ToHost(stack.HostOrder64ToNet(0x0102030405060708ull)),
              0x0102030405060708ull);
    EXPECT_EQ(stack.HostOrder64ToNet(0x0102030405060708ull), 0x0807060504030201ull);
    EXPECT_EQ(stack.InternetChecksum({0x45, 0x00, 0x00, 0x1c}),
              static_cast<std::uint16_t>(~0x451c));
}

TEST_F(StackTest, ServicesAndPorts) {
    EXPECT_EQ(stack.ServiceToPort("8080"), 8080);
    EXPECT_STREQ(vyktest::Raised<EIdInvalidServiceName>([&] {
                     stack.ServiceToPort("no-such-service");
                 }).what(),
                 "no-such-service is not a valid service.");
}

TEST_F(StackTest, RefusedConnectRaises10061) {
    const int port = vyktest::ClosedLoopbackPort();
    const auto socket = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    // The number's text is the table's (SocketErrorText).
    EXPECT_EQ(vyktest::Raised<EIdSocketError>([&] {
                  stack.ConnectEndpoint(socket, "127.0.0.1", Id_IPv4, port);
              }).ErrorNumber(),
              Id_WSAECONNREFUSED);
    stack.ShutdownAndClose(socket);
}

TEST_F(StackTest, PortAboveRangeIsARangeError) {
    const auto socket = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    EXPECT_THROW(stack.BindEndpoint(socket, "", Id_IPv4, 65536), ERangeError);
    EXPECT_THROW(stack.ConnectEndpoint(socket, "127.0.0.1", Id_IPv4, 70000), ERangeError);
    TIdBytes empty;
    EXPECT_THROW(stack.ReceiveInto(socket, empty), ERangeError);
    stack.ShutdownAndClose(socket);
}

TEST_F(StackTest, ListenAcceptAndDatagrams) {
    const auto server = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    stack.BindEndpoint(server, "127.0.0.1", Id_IPv4, 0);
    stack.ListenOn(server, 1);
    const TIdEndpoint own = stack.OwnEndpoint(server);
    const auto client = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    stack.ConnectEndpoint(client, "127.0.0.1", Id_IPv4, own.Port);
    TIdEndpoint peer;
    const auto accepted = stack.AcceptPeer(server, peer);
    EXPECT_EQ(peer.IP, "127.0.0.1");
    EXPECT_EQ(stack.PeerEndpoint(client).Port, own.Port);
    const TIdBytes hello = ToBytes("hello");
    EXPECT_EQ(stack.SendFrom(client, hello, 1, -1), 4);
    TIdBytes in(16);
    EXPECT_EQ(stack.ReceiveInto(accepted, in), 4);
    EXPECT_EQ(BytesToString(in, 0, 4), "ello");
    for (auto s : {server, client, accepted}) stack.ShutdownAndClose(s);

    const auto a = stack.OpenSocket(Id_SOCK_DGRAM, 0, false, Id_IPv4);
    const auto b = stack.OpenSocket(Id_SOCK_DGRAM, 0, false, Id_IPv4);
    stack.BindEndpoint(b, "127.0.0.1", Id_IPv4, 0);
    const TIdEndpoint to = stack.OwnEndpoint(b);
    EXPECT_EQ(stack.SendDatagram(a, ToBytes("ping"), to), 4);
    TIdEndpoint from;
    TIdBytes datagram(64);
    EXPECT_EQ(stack.ReceiveDatagram(b, datagram, from), 4);
    EXPECT_EQ(from.IP, "127.0.0.1");
    stack.RawClose(a);
    stack.RawClose(b);
}

TEST_F(StackTest, WritingToAGonePeerRaisesInsteadOfKillingTheProcess) {
    vyktest::ScriptedServer server(vyktest::Script().Reset());
    const auto socket = stack.OpenSocket(Id_SOCK_STREAM, 0, false, Id_IPv4);
    stack.ConnectEndpoint(socket, "127.0.0.1", Id_IPv4, server.Port());
    const TIdBytes block(65536, 'x');
    EXPECT_THROW(
        {
            for (int i = 0; i < 200; ++i) {
                stack.SendFrom(socket, block, 0, -1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        },
        EIdSocketError);
    stack.ShutdownAndClose(socket);
}
