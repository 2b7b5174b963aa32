#include "app/uFrmVYKPatch.h"

#include "net/IdExceptionCore.h"
#include "tests/app/WineUpdate.h"
#include "tests/host/TempPrefix.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <filesystem>

using vyktest::Script;
using vyktest::ScriptedServer;
using vyktest::WineUpdate;

namespace {

const std::string NewProgram = "MZ new Kalmin.exe";
const std::string OldProgram = "MZ old Kalmin.exe";

std::string Reply(const std::string& status, const std::string& body, std::size_t length) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" +
           body;
}

} // namespace

TEST(DownloadToStream, FetchesTheBodyWithOneGet) {
    ScriptedServer server(
        Script().ReceiveHead().Send(Reply("200 OK", NewProgram, NewProgram.size())).Close());
    TMemoryStream stream;
    DownloadToStream(server.Url("/instal/Kalmin.exe"), stream);
    EXPECT_EQ(stream.DataString(), NewProgram);
    EXPECT_EQ(server.Received().rfind("GET /instal/Kalmin.exe HTTP/1.1\r\n", 0), 0u);
}

// The idle limit and the pace (1,024 bytes a second over 60 seconds) both
// give a server that stops sending a minute.
TEST(DownloadToStream, AServerThatStopsSendingIsGivenAMinute) {
    vyktest::MemoryIOHandler io;
    io.Replies = {Reply("200 OK", "MZ", 10)};
    io.HoldOpen = true;
    io.StallTimesOut = true;
    TMemoryStream stream;
    EXPECT_THROW(DownloadThrough("http://vendor.test/instal/Kalmin.exe", stream, &io),
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
        TForm1 form(host, [&url](const std::string&, TStream& s) { DownloadToStream(url, s); });
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
