// vykget against real servers from Debian's packages, each started by the test
// on a free loopback port with a configuration it writes: tinyproxy for the
// proxy route, nginx for redirects. A server that cannot be started fails the
// test, saying so; these tests are never skipped.

#include "tests/support/ScriptedServer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SignedPrograms.h"
#include "tests/support/TLSServers.h"
#include "tests/tools/VykgetFixture.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using vyktest::ProgramRun;
using vyktest::ReadFile;
using vyktest::Script;
using vyktest::ScriptedServer;
using vyktest::ServerProcess;

namespace {

const std::string kProgram = "MZ" + std::string(70000, 'k') + "end";

class VykgetServersTest : public vyktest::VykgetTest {
protected:
    void SetUp() override {
        VykgetTest::SetUp();
        fs::permissions(dir, fs::perms(0755)); // nginx's workers run as nobody
        fs::create_directories(dir / "www/instal");
        std::ofstream(dir / "www/instal/Kalmin.exe", std::ios::binary) << kProgram;
    }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
    }

    // tinyproxy on a free port, allowing only 127.0.0.1, without upstream.
    int StartProxy(const std::string& extra = {}) {
        const int port = vyktest::ClosedLoopbackPort();
        Write("tinyproxy.conf", "Port " + std::to_string(port) +
                                    "\nListen 127.0.0.1\nAllow 127.0.0.1\n" +
                                    "Timeout 30\nMaxClients 8\nLogLevel Connect\nLogFile \"" +
                                    (dir / "tinyproxy.log").string() + "\"\n" + extra);
        const std::string failure =
            proxy.Start({"tinyproxy", "-d", "-c", (dir / "tinyproxy.conf").string()}, port,
                        (dir / "tinyproxy.out").string());
        EXPECT_EQ(failure, "")
            << "tinyproxy is needed for the proxy route (scripts/setup-deps installs it)";
        return failure.empty() ? port : 0;
    }

    // nginx serving www/ with the given extra locations.
    int StartNginx(const std::string& locations) {
        const int port = vyktest::ClosedLoopbackPort();
        const std::string work = dir.string();
        Write("nginx.conf",
              "worker_processes 1;\npid " + work + "/nginx.pid;\nerror_log " + work +
                  "/nginx-error.log;\ndaemon off;\nevents { worker_connections 16; }\nhttp {\n"
                  "  access_log off;\n  client_body_temp_path " +
                  work +
                  "/tmp;\n"
                  "  proxy_temp_path " +
                  work + "/tmp;\n  fastcgi_temp_path " + work +
                  "/tmp;\n"
                  "  uwsgi_temp_path " +
                  work + "/tmp;\n  scgi_temp_path " + work +
                  "/tmp;\n"
                  "  server {\n    listen 127.0.0.1:" +
                  std::to_string(port) + ";\n    root " + work + "/www;\n" + locations +
                  "  }\n}\n");
        fs::create_directories(dir / "tmp");
        const std::string failure = nginx.Start({"nginx", "-c", work + "/nginx.conf", "-p", work},
                                                port, work + "/nginx.out");
        EXPECT_EQ(failure, "")
            << "nginx is needed for the redirect tests (scripts/setup-deps installs it)";
        return failure.empty() ? port : 0;
    }

    std::string Target() const { return (dir / "Kalmin.exe").string(); }

    ServerProcess proxy;
    ServerProcess nginx;
};

} // namespace

TEST_F(VykgetServersTest, ThroughTinyproxyByteForByteWithTheAbsoluteUrl) {
    const int web = StartNginx("");
    const int port = StartProxy();
    ASSERT_TRUE(web && port);
    const std::string url = "http://127.0.0.1:" + std::to_string(web) + "/instal/Kalmin.exe";
    const ProgramRun run =
        Vykget("-x http://127.0.0.1:" + std::to_string(port) + " " + url + " " + Target());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(Target()), kProgram);
    proxy.Stop();
    EXPECT_NE(ReadFile(dir / "tinyproxy.log").find("): GET " + url + " HTTP/1.1"),
              std::string::npos)
        << ReadFile(dir / "tinyproxy.log");
}

TEST_F(VykgetServersTest, TinyproxyRefusalsFailWithItsStatusLine) {
    const int web = StartNginx("");
    Write("filter", "^127\\.0\\.0\\.1$\n");
    const int port = StartProxy("BasicAuth user secret\nFilterType ere\nFilter \"" +
                                (dir / "filter").string() + "\"\n");
    ASSERT_TRUE(web && port);
    std::ofstream(Target()) << "old";
    const std::string url =
        " http://127.0.0.1:" + std::to_string(web) + "/instal/Kalmin.exe " + Target();
    const std::string at = "127.0.0.1:" + std::to_string(port);
    ProgramRun run = Vykget("-x http://" + at + url);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "HTTP/1.0 407 Proxy Authentication Required.\n");
    run = Vykget("-x http://user:secret@" + at + url);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 403 Filtered.\n");
    EXPECT_EQ(ReadFile(Target()), "old");
}

TEST_F(VykgetServersTest, TheProxyRequestHeadExactly) {
    // A scripted server standing in as the proxy shows the head as sent.
    const struct {
        const char* options;
        const char* head; // after the request line
    } rows[] = {
        {"", "Host: vendor.test:81\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
             "User-Agent: Mozilla/3.0 (compatible; VYKPatch)\r\n\r\n"},
        {"--http1.0 ",
         "Proxy-Connection: keep-alive\r\nHost: vendor.test:81\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: identity\r\nUser-Agent: Mozilla/3.0 (compatible; VYKPatch)\r\n\r\n"},
        {"-x http://user:secret@",
         "Host: vendor.test:81\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; VYKPatch)\r\n"
         "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n\r\n"},
        // Escapes in the user information stand for the bytes they name.
        {"-x http://b%40b:p%3As%25w@",
         "Host: vendor.test:81\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; VYKPatch)\r\n"
         "Proxy-Authorization: Basic YkBiOnA6cyV3\r\n\r\n"},
        {"-x ", "Host: vendor.test:81\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
                "User-Agent: Mozilla/3.0 (compatible; VYKPatch)\r\n\r\n"}, // no scheme: http
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options);
        ScriptedServer stand_in(
            Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok").Close());
        const std::string at = "127.0.0.1:" + std::to_string(stand_in.Port());
        const std::string proxy = std::string(row.options).rfind("-x ", 0) == 0
                                      ? row.options + at
                                      : row.options + ("-x http://" + at);
        const ProgramRun run =
            Vykget(proxy + " http://vendor.test:81/instal/Kalmin.exe " + Target());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::string version = std::string(row.options) == "--http1.0 " ? "1.0" : "1.1";
        EXPECT_EQ(stand_in.Received(0), "GET http://vendor.test:81/instal/Kalmin.exe HTTP/" +
                                            version + "\r\n" + row.head);
    }
}

TEST_F(VykgetServersTest, RedirectsFromNginx) {
    std::string locations =
        "    location = /moved { return 301 /instal/Kalmin.exe; }\n"
        "    location = /relative { absolute_redirect off; return 302 instal/Kalmin.exe; }\n"
        "    location = /loop { return 302 /loop; }\n"
        "    location = /hop1 { return 302 /hop2; }\n"
        "    location = /hop2 { return 302 /hop3; }\n"
        "    location = /hop3 { return 302 /instal/Kalmin.exe; }\n"
        "    location = /ftp { return 302 ftp://127.0.0.1/instal/Kalmin.exe; }\n"
        "    location = /file { return 302 file:///etc/passwd; }\n"
        "    location = /scheme-relative { absolute_redirect off; return 302 "
        "//127.0.0.1:$server_port/instal/Kalmin.exe; }\n";
    const int port = StartNginx(locations);
    ASSERT_TRUE(port);
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const struct {
        std::string arguments;
        int exitCode;
        std::string err;
    } rows[] = {
        {"-L " + base + "/moved", 0, ""},
        {"-L " + base + "/relative", 0, ""},
        {"-L " + base + "/scheme-relative", 0, ""},
        {"-L --max-redirs 3 " + base + "/hop1", 0, ""},
        // Not followed without -L; past the limit, never a download, and said so.
        {base + "/moved", 1, "HTTP/1.1 301 Moved Permanently.\n"},
        {"-L --max-redirs 2 " + base + "/hop1", 1,
         "Maximum of 2 redirects followed (--max-redirs).\n"},
        {"--location --max-redirs 0 " + base + "/moved", 1,
         "Maximum of 0 redirects followed (--max-redirs).\n"},
        {"-L " + base + "/loop", 1, "Maximum of 14 redirects followed (--max-redirs).\n"},
        // Only what vykget can fetch is followed.
        {"-L " + base + "/ftp", 1, "Redirect to a ftp: URL, which vykget does not fetch.\n"},
        {"-L " + base + "/file", 1, "Redirect to a file: URL, which vykget does not fetch.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        std::ofstream(Target()) << "old";
        const ProgramRun run = Vykget(row.arguments + " " + Target());
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(ReadFile(Target()), row.exitCode == 0 ? kProgram : "old");
        for (const std::string& name : Files())
            EXPECT_EQ(name.find(".vykget-"), std::string::npos) << name;
    }
}

TEST_F(VykgetServersTest, HttpsVerifiedAgainstTheTestCA) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    const std::string ca = "--cacert " + s.CA() + " ";
    const std::string refused = "The certificate of 127.0.0.1 was not accepted: ";
    const struct {
        std::string arguments;
        std::string environment;
        int exitCode;
        std::string err; // its start; for a success, a line of -v
    } rows[] = {
        {ca + "-v " + s.Url("good"), "", 0, "* TLS connection using TLSv1.3 / TLS_"},
        {ca + "-v " + s.Url("good"), "", 0,
         "*  subject: CN=good.vykpatch.test\n*  issuer: CN=VYKPatch Test CA,O=VYKPatch tests\n"},
        {s.Url("good"), "SSL_CERT_FILE=" + s.CA(), 0, ""},
        {s.Url("good"), "", 1, refused + "unknown issuer.\n"},
        {ca + s.Url("expired"), "", 1, refused + "expired.\n"},
        {"--cacert /nonexistent.pem " + s.Url("good"), "", 1,
         "The CA certificates in /nonexistent.pem cannot be read: "},
        {ca + "-L " + s.Url("good", "/to-http"), "", 1,
         "Request refused: a redirect from https to http"},
        // The handshake counts towards the transfer's time.
        {ca + "--max-time 1 " + s.Url("handshake-stall"), "", 1,
         "Maximum time reached: --max-time 1 seconds.\n"},
        // The proxy that wants credentials shows which variable was read.
        {ca + s.Url("good"), "https_proxy=127.0.0.1:" + std::to_string(s.ports.at("proxy-auth")), 1,
         "HTTP/1.0 407 Proxy Authentication Required.\n"},
        {ca + s.Url("good"),
         "HTTPS_PROXY=us%65r:s%65cret@127.0.0.1:" + std::to_string(s.ports.at("proxy-auth")), 0,
         ""},
        {ca + s.Url("good"), "http_proxy=127.0.0.1:" + std::to_string(s.ports.at("proxy-auth")), 0,
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments + " " + row.environment);
        std::ofstream(Target()) << "old";
        const ProgramRun run = Vykget("-s " + row.arguments + " " + Target(), row.environment);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        if (row.exitCode == 0)
            EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        else
            EXPECT_EQ(run.err.substr(0, row.err.size()), row.err);
        EXPECT_EQ(ReadFile(Target()), row.exitCode == 0 ? kProgram : "old");
    }
}

// The signature table through --same-publisher-as (or --publisher-key for a
// pinned row): what fails is named, FILE stays as it was, and -v says who
// signed the download.
TEST_F(VykgetServersTest, SamePublisherAsAndPublisherKeyRefuseAnotherSigner) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    const std::string installed = (dir / "installed.exe").string();
    for (const vyktest::SignatureRow& row : vyktest::SignatureRows()) {
        SCOPED_TRACE(vyktest::RowName(row));
        std::ofstream(installed, std::ios::binary) << vyktest::SignedProgram(row.installed);
        std::ofstream(Target()) << "old";
        const std::string rule = row.pin ? "--publisher-key " + vyktest::PinOf(row.pin)
                                         : "--same-publisher-as " + installed;
        const ProgramRun run =
            Vykget("-s -v " + rule + " " + vyktest::SignedProgramUrl(row) + " " + Target(),
                   "SSL_CERT_FILE=" + s.Signed("codesign-ca.pem"));
        EXPECT_EQ(run.exitCode, row.refusal ? 1 : 0) << run.err;
        const std::string download = row.download;
        std::string said =
            row.refusal ? std::string("is not the publisher's: ") + row.refusal + " (" : "";
        if (download == "new-unsigned") said = "\n* no signature (";
        if (download == "new-same-key")
            said = "\n* signed by: CN=Tavrolin Test Publisher,O=Tavrolin\n"
                   "*  issuer: CN=VYKPatch Test Code Signing CA,O=VYKPatch tests\n"
                   "*  key sha256: " +
                   vyktest::PinOf("publisher") + "\n*  timestamp: none\n";
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(Target()), row.refusal ? "old" : vyktest::SignedProgram(row.download));
        EXPECT_EQ(ReadFile(installed), vyktest::SignedProgram(row.installed));
    }
    // A timestamp counts only from an authority that chains to a trusted root.
    std::ofstream(installed, std::ios::binary) << vyktest::SignedProgram("old-signed");
    for (const auto& [download, said] :
         {std::pair{"new-timestamped", "*  timestamp: 20"},
          std::pair{"new-timestamped-rogue-tsa", "*  timestamp: none\n"}}) {
        const std::string url =
            s.Url("plain", std::string("/signed/") + download + ".exe", "127.0.0.1", "http");
        const ProgramRun run =
            Vykget("-s -v --same-publisher-as " + installed + " " + url + " " + Target(),
                   "SSL_CERT_FILE=" + s.Signed("codesign-ca.pem"));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find(said), std::string::npos) << download << ": " << run.err;
    }
    EXPECT_EQ(Vykget("--publisher-key abc " + s.Url("plain") + " " + Target()).exitCode, 2);
    // A device's reader would have the program before the check: refused before a request.
    const ProgramRun device =
        Vykget("--publisher-key " + vyktest::PinOf("publisher") + " " +
               s.Url("plain", "/signed/new-stranger.exe", "127.0.0.1", "http") + " /dev/null");
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_EQ(device.err.find("Cannot create file \"/dev/null\"."), 0u) << device.err;
    EXPECT_EQ(Vykget("--same-publisher-as " + installed + " " + s.Url("plain") + " -").exitCode, 2);
}
