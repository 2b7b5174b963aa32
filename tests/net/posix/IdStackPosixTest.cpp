#include "net/posix/IdStackPosix.h"

#include "PlatformStack.h"
#include "net/IdExceptionCore.h"
#include "net/IdSocketHandle.h"
#include "net/IdSocketList.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ScriptedServerSocket.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class PosixStackTest : public ::testing::Test {
protected:
    TIdStackReference reference;
};

} // namespace

TEST_F(PosixStackTest, ReadinessWaitWorksForHighDescriptorNumbers) {
    // Waiting through select would write past its set for descriptors >= 1024.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 1100) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2048);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 1100) GTEST_SKIP() << "descriptor limit too low";
    vyktest::ScriptedServer server(vyktest::Script().Send("x").Stall());
    TIdSocketHandle handle;
    handle.OpenHandle();
    const int high = ::fcntl(static_cast<int>(handle.SocketValue()), F_DUPFD_CLOEXEC, 1500);
    ASSERT_GE(high, 1024);
    ::close(static_cast<int>(handle.SocketValue()));
    TIdSocketList set;
    set.AddSocket(high);
    TIdStack& stack = *CurrentStack();
    stack.ConnectEndpoint(high, "127.0.0.1", Id_IPv4, server.Port());
    EXPECT_TRUE(set.WaitReadableFor(5000));
    ::close(high);
    handle.ClearEndpoints(true); // the original descriptor is already closed
}

// Every errno a call may leave becomes a number with a text.
TEST(PosixErrorMapping, ErrnoAndResolverCodes) {
    const std::pair<int, int> errnos[] = {
        {EINTR, Id_WSAEINTR},           {EPERM, Id_WSAEACCES},
        {EACCES, Id_WSAEACCES},         {ENOMEM, Id_WSAENOBUFS},
        {ENOBUFS, Id_WSAENOBUFS},       {ENFILE, Id_WSAEMFILE},
        {EMFILE, Id_WSAEMFILE},         {EPIPE, Id_WSAECONNRESET},
        {ECONNRESET, Id_WSAECONNRESET}, {ECONNREFUSED, Id_WSAECONNREFUSED},
        {ETIMEDOUT, Id_WSAETIMEDOUT},   {EHOSTUNREACH, Id_WSAEHOSTUNREACH},
        {EIO, Id_WSAECONNABORTED},      {ENOSPC, Id_WSAECONNABORTED},
    };
    for (const auto& [error, number] : errnos)
        EXPECT_EQ(MapErrnoToSocketError(error), number) << error;
    for (int error = 1; error < 200; ++error) {
        const std::string text = SocketErrorText(MapErrnoToSocketError(error));
        EXPECT_NE(text.back(), '\n')
            << "errno " << error << " gave a number without a text: " << text;
    }
    const std::pair<int, int> resolver[] = {
        {EAI_NONAME, Id_WSAHOST_NOT_FOUND},    {EAI_AGAIN, Id_WSATRY_AGAIN},
        {EAI_FAIL, Id_WSANO_RECOVERY},         {EAI_MEMORY, Id_WSAENOBUFS},
        {EAI_FAMILY, Id_WSAEAFNOSUPPORT},      {EAI_SERVICE, Id_WSATYPE_NOT_FOUND},
        {EAI_SOCKTYPE, Id_WSAESOCKTNOSUPPORT}, {EAI_BADFLAGS, Id_WSAEINVAL},
        {-12345, Id_WSANO_RECOVERY},
    };
    for (const auto& [code, number] : resolver) EXPECT_EQ(MapResolverError(code), number) << code;
}

TEST_F(PosixStackTest, TheLookUpSeamAnswersWithoutAResolver) {
    for (const bool tryAgain : {false, true}) {
        vyktest::InvalidNamesUnknown seam(tryAgain);
        try {
            CurrentStack()->LookupHost("vendor.invalid", Id_IPv4);
            ADD_FAILURE() << "looked up";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.ErrorNumber(), tryAgain ? Id_WSATRY_AGAIN : Id_WSAHOST_NOT_FOUND);
        }
    }
    EXPECT_EQ(CurrentStack()->LookupHost("127.0.0.1", Id_IPv4), "127.0.0.1");
}

namespace {
extern "C" void IgnoreSignal(int) {}
} // namespace

// A signal during a wait neither ends it early nor makes it start again.
TEST_F(PosixStackTest, SignalsNeitherEndNorStretchAWait) {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal; // without SA_RESTART: poll returns EINTR
    struct sigaction previous {};
    ::sigaction(SIGUSR1, &action, &previous);
    vyktest::ScriptedServer server(vyktest::Script().Stall());
    TIdSocketHandle handle;
    handle.OpenHandle();
    CurrentStack()->ConnectEndpoint(handle.SocketValue(), "127.0.0.1", Id_IPv4, server.Port());
    TIdSocketList set;
    set.AddSocket(handle.SocketValue());
    std::atomic<bool> waiting{true};
    const pthread_t waiter = ::pthread_self();
    // The storm ends after two seconds, so a wait that restarts in full ends too.
    std::thread storm([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (waiting && std::chrono::steady_clock::now() < end) {
            ::pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const bool readable = set.WaitReadableFor(300);
    const auto took = std::chrono::steady_clock::now() - start;
    waiting = false;
    storm.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_FALSE(readable);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << "each signal restarted the whole wait";
}

// A connect interrupted by a signal goes on, and its outcome is the connect's.
TEST_F(PosixStackTest, AnInterruptedConnectCompletes) {
    namespace sockets = vyktest::sockets;
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;
    struct sigaction previous {};
    ::sigaction(SIGUSR1, &action, &previous);
    int port = 0;
    const sockets::Handle listener = sockets::OpenListener(false, 0, port);
    std::vector<sockets::Handle> fillers;
    for (int i = 0; i < 4; ++i) fillers.push_back(sockets::StartConnect(port));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    TIdSocketHandle handle;
    handle.OpenHandle();
    std::atomic<bool> done{false};
    std::string outcome = "pending";
    std::thread connecting([&] {
        try {
            CurrentStack()->ConnectEndpoint(handle.SocketValue(), "127.0.0.1", Id_IPv4, port);
            outcome = "connected";
        } catch (const EIdSocketError& e) {
            outcome = e.what();
        }
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::pthread_kill(connecting.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Room in the queue: the connect's next attempt is taken.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && std::chrono::steady_clock::now() < end)
        if (sockets::WaitReadable(listener, 50)) sockets::Close(sockets::Accept(listener));
    if (!done) ::shutdown(static_cast<int>(handle.SocketValue()), SHUT_RDWR);
    connecting.join();
    EXPECT_EQ(outcome, "connected");
    for (const auto filler : fillers) sockets::Close(filler);
    sockets::Close(listener);
    ::sigaction(SIGUSR1, &previous, nullptr);
}
