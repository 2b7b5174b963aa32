#include "net/IdTCPClient.h"

#include "net/IdAntiFreezeBase.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerStack.h"
#include "tests/support/Raised.h"
#include "tests/support/ScriptedServer.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using vyktest::Script;
using vyktest::ScriptedServer;

namespace {

struct StatusLog {
    std::vector<std::string> texts;
    TIdComponent::TStatusEvent Handler() {
        return [this](TIdComponent*, TIdStatus, const std::string& text) { texts.push_back(text); };
    }
};

} // namespace

TEST(TCPClient, SettingsAfterConstruction) {
    TIdTCPClient client;
    EXPECT_EQ(client.Host(), "");
    EXPECT_EQ(client.Port(), 0);
    EXPECT_EQ(client.IPVersion(), Id_IPv4);
    EXPECT_EQ(client.ConnectTimeout(), 0);
    EXPECT_EQ(client.ReadTimeout(), -1);
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_NO_THROW(client.CloseConnection());
}

TEST(TCPClient, ConnectNotifiesInOrderWithoutResolvingADottedAddress) {
    ScriptedServer server(Script().Stall());
    TIdTCPClient client;
    StatusLog log;
    client.OnStatus = log.Handler();
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.EstablishConnection();
    EXPECT_EQ(log.texts, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected."}));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(client.OwnsHandler());
    EXPECT_NE(client.Socket(), nullptr);
    EXPECT_THROW(client.EstablishConnection(), EIdAlreadyConnected);
    client.CloseConnection();
    client.CloseConnection();
    EXPECT_EQ(log.texts, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.",
                                                   "Disconnecting.", "Disconnected."}));
}

TEST(TCPClient, HostNameIsResolvedFirst) {
    ScriptedServer server(Script().Stall());
    TIdTCPClient client;
    StatusLog log;
    client.OnStatus = log.Handler();
    client.SetHost("localhost");
    client.SetPort(server.Port());
    client.EstablishConnection();
    ASSERT_EQ(log.texts.size(), 3u);
    EXPECT_EQ(log.texts[0], "Resolving hostname localhost.");
    EXPECT_EQ(log.texts[1], "Connecting to 127.0.0.1.");
}

TEST(TCPClient, MissingHostOrPortRaisesEmptyMessagesWithoutAHandler) {
    TIdTCPClient client;
    EXPECT_THROW(client.EstablishConnection(), EIdHostRequired);
    client.SetHost("127.0.0.1");
    EXPECT_THROW(client.EstablishConnection(), EIdPortRequired);
    EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TCPClient, RefusedConnectLeavesNoHandlerAndTheNextConnectStartsFresh) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(vyktest::ClosedLoopbackPort());
    // The number's text is the table's (SocketErrorText).
    EXPECT_EQ(vyktest::Raised<EIdSocketError>([&] { client.EstablishConnection(); }).ErrorNumber(),
              Id_WSAECONNREFUSED);
    EXPECT_EQ(client.IOHandler(), nullptr);
    ScriptedServer server(Script().Stall());
    client.SetPort(server.Port());
    client.EstablishConnection();
    EXPECT_TRUE(client.IsConnected());
}

TEST(TCPClient, AttachedHandlerIsWatchedNotOwned) {
    ScriptedServer server(Script().Stall());
    auto handler = std::make_unique<TIdIOHandlerStack>();
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(vyktest::ClosedLoopbackPort());
    client.AttachHandler(handler.get());
    EXPECT_EQ(handler->ProgressTarget, &client);
    EXPECT_EQ(handler->Host, "127.0.0.1");
    EXPECT_THROW(client.EstablishConnection(), EIdSocketError);
    EXPECT_EQ(client.IOHandler(), handler.get()); // still attached, closed
    EXPECT_FALSE(handler->HandlerOpen);
    client.SetPort(server.Port());
    client.EstablishConnection();
    handler.reset();
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_EQ(client.Socket(), nullptr);
}

// Its own limit, or an abort from another thread, ends such a connect.
TEST(TCPClient, ConnectTimeoutOrAbortEndsAConnectThatNeverCompletes) {
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "abort" : "time-out");
        vyktest::SaturatedListener listener;
        TIdTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(listener.Port());
        std::atomic<bool> stop{false};
        std::thread stopper;
        if (abort) {
            client.AbortSignal = &stop;
            client.StartTransfer();
            stopper = std::thread([&stop] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop = true;
            });
        } else {
            client.SetConnectTimeout(300);
        }
        const auto start = std::chrono::steady_clock::now();
        try {
            client.EstablishConnection();
            FAIL() << "connected to a saturated listener";
        } catch (const EIdConnectTimeout&) {
            EXPECT_FALSE(abort);
        } catch (const EIdTransferAborted&) {
            EXPECT_TRUE(abort);
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        if (stopper.joinable()) stopper.join();
        EXPECT_GE(elapsed, 290);
        EXPECT_LT(elapsed, 3000);
        EXPECT_EQ(client.IOHandler(), nullptr);
    }
}

TEST(TCPClient, ConnectTimeoutClosesTheSocketOnlyAfterTheThreadIsDone) {
    // Notes whether the socket was still open when the connect thread left it:
    // a socket closed under the thread may be reused by another open meanwhile.
    struct WatchedHandle : TIdSocketHandle {
        std::atomic<int> openWhenLeft{-1};
        void ConnectToPeer() override {
            try {
                TIdSocketHandle::ConnectToPeer();
            } catch (...) {
                openWhenLeft = IsOpen();
                throw;
            }
            openWhenLeft = IsOpen();
        }
    };
    struct WatchedHandler : TIdIOHandlerStack {
        WatchedHandle* watched = nullptr;
        void OpenHandler() override {
            auto handle = std::make_unique<WatchedHandle>();
            watched = handle.get();
            binding_ = std::move(handle);
            TIdIOHandlerStack::OpenHandler();
        }
    };
    vyktest::SaturatedListener listener;
    for (const std::int32_t limit : {1, 130}) { // before and after the thread reaches connect
        SCOPED_TRACE(limit);
        WatchedHandler io;
        io.Host = "127.0.0.1";
        io.Port = listener.Port();
        io.ConnectTimeout = limit;
        EXPECT_THROW(io.OpenHandler(), EIdConnectTimeout);
        EXPECT_EQ(io.watched->openWhenLeft, 1);
        EXPECT_FALSE(io.watched->IsOpen());
    }
}

TEST(TCPClient, ConnectTimeoutReportsARefusalOnTheCallersThread) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(vyktest::ClosedLoopbackPort());
    client.SetConnectTimeout(2000);
    EXPECT_EQ(vyktest::Raised<EIdSocketError>([&] { client.EstablishConnection(); }).ErrorNumber(),
              Id_WSAECONNREFUSED);
    ScriptedServer server(Script().Stall());
    client.SetPort(server.Port());
    client.SetConnectTimeout(-1);
    EXPECT_NO_THROW(client.EstablishConnection());
}

TEST(TCPClient, PeerCloseIsNoticedOnceAndQueuedBytesKeepItConnected) {
    ScriptedServer server(Script().Send("abc").Close());
    TIdTCPClient client;
    StatusLog log;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.EstablishConnection();
    client.IOHandler()->OnStatus = log.Handler();
    TIdIOHandler& io = *client.IOHandler();
    while (!io.PeerClosed) io.ReceiveIntoQueue(false, 1000, false);
    EXPECT_TRUE(client.IsConnected());
    EXPECT_NO_THROW(client.CheckPeerClosed(true));
    EXPECT_EQ(io.QueueAsText(), "abc");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THROW(client.CheckPeerClosed(true), EIdConnClosedGracefully);
    EXPECT_EQ(log.texts, (std::vector<std::string>{"Disconnected."}));
}

TEST(TCPClient, CheckPeerClosedWithoutHandler) {
    TIdTCPClient client;
    EXPECT_NO_THROW(client.CheckPeerClosed(false));
    EXPECT_STREQ(vyktest::Raised<EIdException>([&] { client.CheckPeerClosed(true); }).what(),
                 "Not Connected");
}

TEST(TCPClient, OnlyOneIdleHook) {
    TIdAntiFreezeBase first;
    EXPECT_STREQ(vyktest::Raised<EIdException>([&] { TIdAntiFreezeBase second; }).what(),
                 "Only one TIdAntiFreeze can exist per application.");
}
