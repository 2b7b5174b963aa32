#include "net/IdStackPosix.h"

#include "net/IdSocketHandle.h"
#include "tests/support/ScriptedServer.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
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
