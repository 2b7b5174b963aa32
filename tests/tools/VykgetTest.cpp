// Black-box tests of the vykget program against the scripted loopback server.

#include "tests/support/ScriptedServer.h"
#include "tests/tools/VykgetFixture.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using vyktest::Script;
using vyktest::ScriptedServer;

using vyktest::ProgramRun;
using vyktest::ReadFile;
using vyktest::VykgetTest;

TEST_F(VykgetTest, DownloadReplacesTheFileAndPrintsNothing) {
    ScriptedServer server(
        Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZnew!").Close());
    const fs::path target = dir / "Kalmin.exe";
    std::ofstream(target) << "old content that is longer";
    const ProgramRun run = Vykget(server.Url("/instal/Kalmin.exe") + " " + target.string());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(ReadFile(target), "MZnew!");
    EXPECT_EQ(Files(), std::vector<std::string>{"Kalmin.exe"});
}

TEST_F(VykgetTest, NotFoundLeavesThePresentFileWhole) {
    ScriptedServer server(
        Script()
            .ReceiveHead()
            .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n<html/>\r\n")
            .Close());
    const fs::path target = dir / "Kalmin.exe";
    std::ofstream(target) << "old";
    const ProgramRun run = Vykget(server.Url("/instal/Kalmin.exe") + " " + target.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 404 Not Found.\n");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Files(), std::vector<std::string>{"Kalmin.exe"});
}

TEST_F(VykgetTest, CutShortBodyLeavesAnAbsentFileAbsentAndSaysHowMuchArrived) {
    const std::pair<const char*, const char*> rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nMZ",
         "Transfer closed with 2 of 10 bytes received.\n"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nMZ!\r\n5\r\nab",
         "Transfer closed with 5 bytes received inside a chunked body.\n"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nMZ!\r\n",
         "Transfer closed with 3 bytes received inside a chunked body.\n"},
        // A cut head or error body is no document's: the connection's own text.
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", "Connection Closed Gracefully.\n"},
        {"HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 10\r\n\r\nMZ",
         "HTTP/1.1 302 Found.\n"},
    };
    for (const auto& [reply, err] : rows) {
        ScriptedServer server(Script().ReceiveHead().Send(reply).Close());
        const ProgramRun run = Vykget(server.Url("/k") + " " + (dir / "Kalmin.exe").string());
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, err);
        EXPECT_TRUE(Files().empty());
    }
    if (fs::exists("/dev/full")) {
        // A device that refuses every write, as a full disk does.
        ScriptedServer server(
            Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nMZ").Close());
        const ProgramRun run = Vykget(server.Url("/k") + " /dev/full");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "Cannot write \"/dev/full\": No space left on device.\n");
    }
}

// A redirect to an empty Location names the same URL again; past the limit
// the last one is never taken for the document.
TEST_F(VykgetTest, EmptyLocationsAreFollowedUntilTheLimit) {
    const std::string again = "HTTP/1.1 302 Found\r\nLocation: \r\nContent-Length: 0\r\n\r\n";
    ScriptedServer server(
        Script().ReceiveHead().Send(again).ReceiveHead().Send(again).ReceiveHead().Send(again));
    const fs::path target = dir / "Kalmin.exe";
    std::ofstream(target) << "old";
    const ProgramRun run =
        Vykget("-L --max-redirs 2 " + server.Url("/a/k?v=1") + " " + target.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Maximum of 2 redirects followed (--max-redirs).\n");
    EXPECT_EQ(ReadFile(target), "old");
    const std::string received = server.Received(0);
    std::size_t requests = 0;
    for (auto at = received.find("GET /a/k?v=1 HTTP/1.1\r\n"); at != std::string::npos;
         at = received.find("GET /a/k?v=1 HTTP/1.1\r\n", at + 1))
        ++requests;
    EXPECT_EQ(requests, 3u) << received;
}

TEST_F(VykgetTest, NetworkFailuresPrintTheSocketErrorText) {
    const std::string target = (dir / "f").string();
    const ProgramRun run = Vykget(
        "http://127.0.0.1:" + std::to_string(vyktest::ClosedLoopbackPort()) + "/x " + target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Socket Error # 10061\r\nConnection refused.\n");
    // An unknown host's text is checked in-process, where no resolver is asked.
    EXPECT_TRUE(Files().empty());
}

// A FILE that only the kernel can follow (a pipe behind /dev/stdout) is written
// in place, and a status line shown cleaned of control bytes.
TEST_F(VykgetTest, IntoAPipeAndAStatusLineCleaned) {
    ScriptedServer server(
        {Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZnew!").Close(),
         Script()
             .ReceiveHead()
             .Send("HTTP/1.1 302 \x1b[2J\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n")
             .Close()});
    ProgramRun run = Vykget(server.Url("/k") + " /dev/stdout | cat");
    EXPECT_EQ(run.out, "MZnew!");
    ScriptedServer twice(
        Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZnew!").Close());
    run = Vykget(twice.Url("/k") + " -"); // standard output, no file at all
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "MZnew!");
    EXPECT_TRUE(Files().empty());
    run = Vykget("-o g " + twice.Url("/k")); // FILE as an option, as curl has it
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(dir / "g"), "MZnew!");
    fs::remove(dir / "g");
    run = Vykget(server.Url("/k") + " f"); // a redirect, not followed
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 302 ?[2J.\n");
    EXPECT_TRUE(Files().empty());
}

TEST_F(VykgetTest, WrongArgumentsPrintUsage) {
    const ProgramRun run = Vykget("only-one");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.rfind("usage: vykget URL FILE", 0), 0u);
}

TEST_F(VykgetTest, OptionsAndTheirErrors) {
    const struct {
        const char* arguments;
        int exitCode;
        const char* err; // the start of standard error, or of standard output when exiting with 0
    } rows[] = {
        {"--bogus u f", 2, "vykget: unknown option '--bogus'\n"},
        {"-q u f", 2, "vykget: unknown option '-q'\n"},
        {"u f --timeout", 2, "vykget: option --timeout needs a value\n"},
        {"--timeout 1,5 u f", 2, "vykget: option --timeout needs a number of seconds, not '1,5'\n"},
        {"--connect-timeout=-1 u f", 2,
         "vykget: option --connect-timeout needs a number of seconds, not '-1'\n"},
        {"--read-timeout . u f", 2,
         "vykget: option --read-timeout needs a number of seconds, not '.'\n"},
        {"-m 2147484 u f", 2,
         "vykget: option --max-time allows at most 2147483 seconds, not '2147484'\n"},
        {"--max-redirs x u f", 2, "vykget: option --max-redirs needs a whole number, not 'x'\n"},
        {"-Y x u f", 2,
         "vykget: option --speed-limit needs a number of bytes per second, not 'x'\n"},
        {"--location=yes u f", 2, "vykget: option --location takes no value\n"},
        {"-x ftp://proxy:21 http://h/ f", 2,
         "vykget: option --proxy needs [http://][USER:PASSWORD@]HOST[:PORT], not "
         "'ftp://proxy:21'\n"},
        {"-x http://u:secret@h:0 http://h/ f", 2,
         "vykget: option --proxy has a bad port in 'http://u:***@h:0'\n"},
        {"-x http://u:p@ss@h:0/x@y http://h/ f", 2,
         "vykget: option --proxy has a bad port in 'http://u:***@h:0/x@y'\n"},
        {"-x u:secret@h:x http://h/ f", 2,
         "vykget: option --proxy has a bad port in 'u:***@h:x'\n"},
        {"-x u%zz:secret@h http://h/ f", 2,
         "vykget: option --proxy has an invalid escape in 'u%zz:***@h'\n"},
        {"-x u:s%4@h http://h/ f", 2,
         "vykget: option --proxy has an invalid escape in 'u:***@h'\n"},
        {"-v u", 2, "usage: vykget URL FILE"},
        {"--help", 0, "usage: vykget [options] URL FILE\n"},
        {"x -h", 0, "usage: vykget [options] URL FILE\n"},
        {"--version", 0, "vykget "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const ProgramRun run = Vykget(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode);
        const std::string& text = row.exitCode == 0 ? run.out : run.err;
        EXPECT_EQ(text.rfind(row.err, 0), 0u) << text;
        if (row.exitCode == 2) {
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
        }
    }
    EXPECT_TRUE(Files().empty());
}

TEST_F(VykgetTest, VerboseShowsHeadsAndConnectsButNeverTheBodyOrCredentials) {
    ScriptedServer server(Script()
                              .ReceiveHead()
                              .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                    "realm=\"vyk\"\r\nContent-Length: 4\r\n\r\nnope")
                              .ReceiveHead()
                              .Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nTHE-BODY!")
                              .Close());
    const fs::path target = dir / "Kalmin.exe";
    // Options after the operands, and "--" before an operand that looks like one.
    const ProgramRun run = Vykget(server.Url("/x") + " -s -v -u user:secret -- " + target.string());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(target), "THE-BODY!");
    const std::string& err = run.err;
    const std::string connected =
        "* connected to 127.0.0.1 port " + std::to_string(server.Port()) + "\n";
    EXPECT_EQ(err.rfind(connected, 0), 0u) << err;
    EXPECT_NE(err.find("> GET /x HTTP/1.1\n> Host: 127.0.0.1:"), std::string::npos) << err;
    EXPECT_NE(err.find("< HTTP/1.1 401 Unauthorized\n< WWW-Authenticate: Basic realm=\"vyk\"\n"),
              std::string::npos);
    EXPECT_NE(err.find("\n> Authorization: Basic ***\n"), std::string::npos) << err;
    EXPECT_NE(err.find("< HTTP/1.1 200 OK\n< Content-Length: 9\n<\n"), std::string::npos);
    EXPECT_EQ(err.find("THE-BODY"), std::string::npos);
    EXPECT_EQ(err.find("nope"), std::string::npos);
    EXPECT_EQ(err.find("dXNlcjpzZWNyZXQ"), std::string::npos); // user:secret in Base64
    EXPECT_NE(server.Received(0).find("Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"),
              std::string::npos);
}

// Credentials from -u or from the URL answer a Basic challenge, and are tried once.
TEST_F(VykgetTest, CredentialsAnswerAChallengeOnce) {
    const std::string challenge = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                  "realm=\"vyk\"\r\nContent-Length: 0\r\n\r\n";
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nMZ";
    const struct {
        const char* what;
        std::string options; // "URL" stands for the URL, "USERURL" for it with user:secret@
        bool accepted;       // the second reply is a document
        int exitCode;
        const char* sent; // the credential sent
        int requests;
    } rows[] = {
        {"user and password", "-v -u user:secret URL", true, 0, "dXNlcjpzZWNyZXQ=", 2},
        {"user without a password", "-u user URL", true, 0, "dXNlcjo=", 2},
        {"user information in the URL", "-v USERURL", true, 0, "dXNlcjpzZWNyZXQ=", 2},
        {"wrong credentials", "-u user:secret URL", false, 1, "dXNlcjpzZWNyZXQ=", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Script script;
        script.ReceiveHead().Send(challenge).ReceiveHead().Send(row.accepted ? ok : challenge);
        for (int i = 0; i < 3; ++i) script.ReceiveHead().Send(challenge);
        ScriptedServer server(script.Close());
        std::string arguments = row.options;
        const std::string url = server.Url("/x");
        if (const auto at = arguments.find("USERURL"); at != std::string::npos)
            arguments.replace(at, 7, "http://user:secret@" + url.substr(7));
        else
            arguments.replace(arguments.find("URL"), 3, url);
        const ProgramRun run = Vykget(arguments + " " + (dir / "f").string());
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        const std::string received = server.AllReceived();
        EXPECT_NE(received.find(std::string("Authorization: Basic ") + row.sent + "\r\n"),
                  std::string::npos)
            << received;
        int requests = 0;
        for (auto at = received.find("GET /x "); at != std::string::npos;
             at = received.find("GET /x ", at + 1))
            ++requests;
        EXPECT_EQ(requests, row.requests);
        EXPECT_EQ(run.err.find(row.sent), std::string::npos); // never in the trace
    }
}

// A proxy from -x or http_proxy, unless the host is listed in --noproxy,
// no_proxy or NO_PROXY; HTTP_PROXY is never one.
TEST_F(VykgetTest, ProxyFromTheEnvironmentAndHostsReachedDirectly) {
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nMZ";
    const struct {
        const char* environment; // %P stands for the stand-in proxy's address
        const char* options;
        bool throughProxy;
    } rows[] = {
        {"http_proxy=%P", "", true},
        {"http_proxy=http://%P", "-v", true},
        {"HTTP_PROXY=%P", "", false},
        {"http_proxy=%P no_proxy=example.com,127.0.0.1", "", false},
        {"http_proxy=%P NO_PROXY=.0.1", "",
         true}, // a suffix matches names, never part of an address
        {"http_proxy=%P NO_PROXY=*", "", false},
        {"http_proxy=%P no_proxy=127.0.0.1", "--noproxy other.test", true},
        {"", "-x %P --noproxy '*'", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.environment) + " " + row.options);
        ScriptedServer origin(Script().ReceiveHead().Send(ok).Close());
        ScriptedServer proxy(Script().ReceiveHead().Send(ok).Close());
        const std::string at = "127.0.0.1:" + std::to_string(proxy.Port());
        std::string environment = row.environment, options = row.options;
        for (std::string* text : {&environment, &options})
            for (auto p = text->find("%P"); p != std::string::npos; p = text->find("%P"))
                text->replace(p, 2, at);
        const ProgramRun run =
            Vykget(options + " " + origin.Url("/x") + " " + (dir / "f").string(), environment);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(proxy.Received(0).rfind("GET http://127.0.0.1:", 0) == 0, row.throughProxy)
            << proxy.Received(0);
        EXPECT_EQ(origin.Received(0).rfind("GET /x ", 0) == 0, !row.throughProxy)
            << origin.Received(0);
        if (std::string(row.options) == "-v") {
            EXPECT_NE(run.err.find("* proxy 127.0.0.1 port " + std::to_string(proxy.Port()) +
                                   " (from http_proxy)\n"),
                      std::string::npos)
                << run.err;
        }
    }
}

// The manual page lists the options the help lists, and renders.
TEST_F(VykgetTest, HelpAndManualListTheSameOptions) {
    const ProgramRun help = Vykget("--help");
    std::set<std::string> inHelp, inManual;
    const std::regex option(R"((^|[ ,])(--?[A-Za-z0-9][A-Za-z0-9.-]*))");
    std::istringstream helpLines(help.out);
    for (std::string line; std::getline(helpLines, line);) {
        const auto first = line.find_first_not_of(' ');
        if (first < 2 || first > 6 || line[first] != '-') continue;
        const std::string column = line.substr(0, 28);
        for (std::sregex_iterator it(column.begin(), column.end(), option), end; it != end; ++it)
            inHelp.insert((*it)[2]);
    }
    std::istringstream manual(ReadFile(VYKGET_MANUAL));
    bool item = false;
    for (std::string line; std::getline(manual, line);) {
        if (item) {
            std::string plain = std::regex_replace(line, std::regex(R"(\\-)"), "-");
            plain = std::regex_replace(plain, std::regex(R"(\\f[BIR])"), " ");
            const std::string head =
                plain.substr(0, plain.find(" [")).substr(0, plain.find(" USER"));
            for (std::sregex_iterator it(head.begin(), head.end(), option), end; it != end; ++it)
                inManual.insert((*it)[2]);
        }
        item = line == ".TP";
    }
    EXPECT_EQ(inManual, inHelp);
    EXPECT_GT(inHelp.size(), 20u);
    if (std::system("command -v man >/dev/null 2>&1") == 0) {
        const ProgramRun shown = Vykget("--version"); // the folder for the output files
        (void)shown;
        EXPECT_EQ(std::system(("MANWIDTH=80 man -l '" + std::string(VYKGET_MANUAL) + "' >'" +
                               (dir / "page").string() + "' 2>&1")
                                  .c_str()),
                  0);
        EXPECT_NE(ReadFile(dir / "page").find("--max-time"), std::string::npos);
    }
}

// cmake --install puts the programs in bin/, the manual and, with the window, its desktop entry.
TEST_F(VykgetTest, InstallPutsTheProgramsAndTheManualInPlace) {
    const fs::path prefix = dir / "installed";
    ASSERT_EQ(std::system(("'" + std::string(CMAKE_PROGRAM) +
                           "' --install '" VYK_BUILD_DIR "' --prefix '" + prefix.string() +
                           "' >/dev/null")
                              .c_str()),
              0);
    std::vector<fs::path> expected = {"bin/vykget", "share/man/man1/vykget.1"};
    if (VYK_WITH_QT_BUILD) {
        expected.push_back("bin/VYKPatch");
        expected.push_back("share/applications/vykpatch.desktop");
    }
    for (const auto& file : expected) EXPECT_TRUE(fs::exists(prefix / file)) << file;
    EXPECT_EQ(ReadFile(prefix / "share/man/man1/vykget.1"), ReadFile(VYKGET_MANUAL));
}

TEST_F(VykgetTest, TimeLimitsEndStalledTransfersAndLeaveTheFile) {
    const fs::path target = dir / "Kalmin.exe";
    std::ofstream(target) << "old";
    ScriptedServer stalled(
        Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nMZ").Stall());
    // Seconds as curl and wget count them; --max-time ends a transfer that goes on.
    ScriptedServer slow(Script().ReceiveHead().Send(
        "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + std::string(40, 'z'), 4, 100));
    vyktest::SaturatedListener full;
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(full.Port()) + "/k ";
    // A head of 20 bytes a second, which every byte used to keep alive for 12 s.
    const std::string head =
        "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(200, 'p') + "\r\nContent-Length: 2\r\n\r\nMZ";
    ScriptedServer drip(
        {Script().ReceiveHead().Send(head, 1, 50), Script().ReceiveHead().Send(head, 1, 50)});
    const struct {
        std::string arguments;
        const char* err;
        int within = 0; // seconds the run may take, when it is the point
    } rows[] = {
        {"--timeout 0.3 " + stalled.Url("/k"), "Read Timeout.\n"},
        {"--read-timeout .3 " + stalled.Url("/k"), "Read Timeout.\n"},
        {"--connect-timeout 0.3 " + unreachable, "Connect timed out.\n"},
        {"--timeout 0.3 " + unreachable, "Connect timed out.\n"},
        {"-m 0.3 " + stalled.Url("/k"), "Maximum time reached: --max-time 0.3 seconds.\n"},
        {"--max-time=0.3 --read-timeout 5 " + slow.Url("/k"),
         "Maximum time reached: --max-time 0.3 seconds.\n"},
        {"-m 0.3 " + unreachable, "Maximum time reached: --max-time 0.3 seconds.\n"},
        {"--read-timeout 5 -m 1 " + drip.Url("/k"), "Maximum time reached: --max-time 1 seconds.\n",
         2},
        {"-Y 1000 -y 1 " + drip.Url("/k"),
         "Transfer too slow: under 1000 bytes per second for 1 seconds.\n", 2},
        {"-y 1 " + stalled.Url("/k"),
         "Transfer too slow: under 1 bytes per second for 1 seconds.\n", 3},
        // A wait's own shorter limit still has its own message.
        {"--read-timeout 0.3 -m 5 " + stalled.Url("/k"), "Read Timeout.\n"},
        {"--connect-timeout 0.3 -m 5 " + unreachable, "Connect timed out.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const auto start = std::chrono::steady_clock::now();
        const ProgramRun run = Vykget(row.arguments + " " + target.string());
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, row.err);
        if (row.within) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(row.within));
        }
    }
    // Head bytes keep the pace too: 40 a second, where 20 are asked for.
    ScriptedServer slowHead(Script().ReceiveHead().Send(
        "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(30, 'p') + "\r\nContent-Length: 2\r\n\r\nMZ", 1,
        25));
    const ProgramRun paced = Vykget("-Y 20 -y 1 " + slowHead.Url("/k") + " -");
    EXPECT_EQ(paced.exitCode, 0) << paced.err;
    EXPECT_EQ(paced.out, "MZ");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Files(), std::vector<std::string>{"Kalmin.exe"});
}

TEST_F(VykgetTest, ProgressMeterOnlyWhenAskedForOffATerminal) {
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(100000, 'z');
    ScriptedServer server(
        {Script().ReceiveHead().Send(reply).Close(), Script().ReceiveHead().Send(reply).Close()});
    const std::string target = (dir / "f").string();
    ProgramRun run = Vykget("--progress " + server.Url("/k") + " " + target);
    EXPECT_EQ(run.exitCode, 0);
    const auto last = run.err.rfind('\r');
    ASSERT_NE(last, std::string::npos) << run.err;
    EXPECT_EQ(run.err.substr(last + 1, 27), "97.7 KiB of 97.7 KiB 100%  ");
    EXPECT_EQ(run.err.back(), '\n');
    EXPECT_NE(run.err.find(" in 0:0"), std::string::npos);
    run = Vykget("--progress -s " + server.Url("/k") + " " + target);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    // An error reply's body is no download: no meter for it.
    ScriptedServer refusing(Script()
                                .ReceiveHead()
                                .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 100000\r\n\r\n" +
                                          std::string(100000, 'e'),
                                      10000, 30)
                                .Close());
    run = Vykget("--progress " + refusing.Url("/k") + " " + target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 404 Not Found.\n");
}
