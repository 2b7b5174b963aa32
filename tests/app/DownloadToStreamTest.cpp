#include "app/uFrmVYKPatch.h"

#include "http/IdProxySettings.h"

#include "net/IdExceptionCore.h"
#include "tests/app/WineUpdate.h"
#include "tests/host/TempPrefix.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

using vyktest::Script;
using vyktest::ScriptedServer;
using vyktest::WineUpdate;

namespace {

// The machine's proxy, if it has one, must not stand between these tests and
// their loopback servers.
[[maybe_unused]] const bool kNoMachineProxy = [] {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    return true;
}();

const std::string NewProgram = "MZ new Kalmin.exe";
const std::string OldProgram = "MZ old Kalmin.exe";

std::string Reply(const std::string& status, const std::string& body, std::size_t length) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" +
           body;
}

} // namespace

// Progress counts the document's body only, of its length when one is given.
TEST(DownloadToStream, FetchesTheBodyWithOneGetAndTellsItsProgress) {
    const struct {
        const char* what;
        std::string reply;
        std::int64_t total;
    } rows[] = {
        {"length", Reply("200 OK", NewProgram, NewProgram.size()), 17},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n11\r\n" + NewProgram +
             "\r\n0\r\n\r\n",
         -1},
    };
    struct Recorded : TBackgroundWork {
        void Progress(std::int64_t done, std::int64_t total) override {
            seen.emplace_back(done, total);
        }
        std::vector<std::pair<std::int64_t, std::int64_t>> seen;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server(Script().ReceiveHead().Send(row.reply).Close());
        TMemoryStream stream;
        Recorded work;
        DownloadToStream(server.Url("/instal/Kalmin.exe"), stream, work);
        EXPECT_EQ(stream.DataString(), NewProgram);
        EXPECT_EQ(server.Received().rfind("GET /instal/Kalmin.exe HTTP/1.1\r\n", 0), 0u);
        ASSERT_FALSE(work.seen.empty());
        EXPECT_EQ(work.seen.front(), std::make_pair(std::int64_t{0}, row.total));
        EXPECT_EQ(work.seen.back(), std::make_pair(std::int64_t{17}, row.total));
    }
    ScriptedServer refusing(Script().ReceiveHead().Send(Reply("404 Not Found", "<html>", 6)));
    TMemoryStream stream;
    Recorded work;
    EXPECT_THROW(DownloadToStream(refusing.Url("/instal/Kalmin.exe"), stream, work),
                 EIdHTTPProtocolException);
    EXPECT_TRUE(work.seen.empty());
}

// Asked to stop, a download that waits for a silent server ends at once,
// long before its read time-out.
TEST(DownloadToStream, StopsWhenAskedTo) {
    ScriptedServer server(
        Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nMZ").Stall());
    TMemoryStream stream;
    TBackgroundWork work(true);
    std::thread stopper([&] {
        while (server.Connections() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        work.StopRequested = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(DownloadToStream(server.Url("/instal/Kalmin.exe"), stream, work),
                 EIdTransferAborted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    stopper.join();

    // A look-up of the proxy that does not answer (for five seconds here) is
    // given up too.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TBackgroundWork stopped(true);
    stopped.StopRequested = true;
    EXPECT_THROW(ProxyUnlessStopped(
                     [released] {
                         released.wait_for(std::chrono::seconds(5));
                         return TIdProxyChoice();
                     },
                     stopped),
                 EIdTransferAborted);
    release.set_value();
    TBackgroundWork going(true);
    EXPECT_EQ(ProxyUnlessStopped([] { return ParseProxyUrl("p:1", "test"); }, going).Port, 1);
}

// The idle limit and the pace (1,024 bytes a second over 60 seconds) both
// give a server that stops sending a minute.
TEST(DownloadToStream, AServerThatStopsSendingIsGivenAMinute) {
    vyktest::MemoryIOHandler io;
    io.Replies = {Reply("200 OK", "MZ", 10)};
    io.HoldOpen = true;
    io.StallTimesOut = true;
    TMemoryStream stream;
    TBackgroundWork work;
    EXPECT_THROW(DownloadThrough("http://vendor.test/instal/Kalmin.exe", stream, work, &io, {}),
                 EIdReadTimeout);
    EXPECT_GT(io.LongestWait, 59000);
    EXPECT_LE(io.LongestWait, 60000);
}

// The whole update over the prefix's files and a loopback server.
TEST(DownloadToStream, OnlyACompleteDownloadReplacesTheInstalledFile) {
    struct Case {
        const char* what;
        std::string reply; // empty: nobody listens
        std::string error; // what escapes the click, empty for none
        std::string after;
    } cases[] = {
        {"complete", Reply("200 OK", NewProgram, NewProgram.size()), "", NewProgram},
        {"404", Reply("404 Not Found", "<html>", 6), "HTTP/1.1 404 Not Found", OldProgram},
        {"cut short", Reply("200 OK", "MZ new", 100), "Connection Closed Gracefully.", OldProgram},
        {"length above 2^63, cut",
         "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nMZ new",
         "Invalid Content-Length in response: \"9223372036854775808\"", OldProgram},
        {"not a program", Reply("200 OK", "<html>portal</html>", 19), "", OldProgram},
        {"server down", "", SocketErrorText(Id_WSAECONNREFUSED), OldProgram},
    };
    for (const auto& c : cases) {
        vyktest::TempPrefix prefix;
        prefix.Write("system.reg",
                     "[Software\\\\Tavrolin\\\\VYK]\n\"InstallPath\"=\"C:\\\\VYK\"\n");
        prefix.Write("drive_c/VYK/Kalmin.exe", OldProgram);
        std::unique_ptr<ScriptedServer> server;
        std::string url = "http://127.0.0.1:" + std::to_string(vyktest::ClosedLoopbackPort()) + "/";
        if (!c.reply.empty()) {
            server = std::make_unique<ScriptedServer>(Script().ReceiveHead().Send(c.reply).Close());
            url = server->Url("/instal/Kalmin.exe");
        }
        WineUpdate host(prefix.root, "VYKPatch");
        TForm1 form(host, [&url](const std::string&, TStream& s, TBackgroundWork& w) {
            DownloadToStream(url, s, w);
        });
        std::string error;
        try {
            form.Button1Click(nullptr);
        } catch (const Exception& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), c.after) << c.what;
        EXPECT_FALSE(std::filesystem::exists(prefix.root + "/drive_c/VYK/Kalmin.exe.part"))
            << c.what;
        if (c.error.empty()) {
            EXPECT_EQ(host.boxes.size(), 1u) << c.what;
        }
    }
}
