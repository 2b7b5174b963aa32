// Black-box tests of vykget.exe under Windows against the scripted loopback
// server: exit codes, the error text on standard error, and the target file.

#include "host/windows/WideText.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SignedPrograms.h"
#include "tests/support/TLSServers.h"
#include "tests/support/windows/EmbeddedManifest.h"
#include "tests/support/windows/InternetOptions.h"
#include "tests/support/windows/TrustedRoot.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using vyktest::Script;
using vyktest::ScriptedServer;

namespace {

struct ProgramRun {
    DWORD exitCode = 0;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class VykgetWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vykget-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(dir);
        // vykget.exe inherits this environment: no proxy of the machine's may stand
        // between it and the scripted server.
        ::SetEnvironmentVariableW(L"http_proxy", nullptr);
        _putenv("http_proxy=");
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs vykget.exe with standard error going into a file; with interrupt
    // set, presses Ctrl-C once its temporary file is there.
    ProgramRun Vykget(const std::string& url, const fs::path& target, bool interrupt = false,
                      const std::string& options = {}) {
        const fs::path errPath = dir / L"stderr.txt";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE err = ::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = err;
        startup.hStdOutput = err;
        const std::wstring program = Utf8ToWide(VYKGET_PATH);
        std::wstring command = L"\"" + program + L"\" " + Utf8ToWide(options) + L" \"" +
                               Utf8ToWide(url) + L"\" \"" + target.wstring() + L"\"";
        PROCESS_INFORMATION process{};
        ProgramRun run;
        if (::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &process)) {
            if (interrupt) {
                for (int i = 0; i < 4000 && !HasTemporary(); ++i) ::Sleep(5);
                ::Sleep(200);
                InterruptWithCtrlC(url);
            }
            if (::WaitForSingleObject(process.hProcess, interrupt ? 10000 : 60000) != WAIT_OBJECT_0)
                ::TerminateProcess(process.hProcess, 0xDEAD);
            ::WaitForSingleObject(process.hProcess, INFINITE);
            ::GetExitCodeProcess(process.hProcess, &run.exitCode);
            ::CloseHandle(process.hThread);
            ::CloseHandle(process.hProcess);
        } else {
            run.exitCode = 0xFFFF;
        }
        ::CloseHandle(err);
        run.err = ReadFile(errPath);
        fs::remove(errPath);
        return run;
    }

    // Ctrl-C goes to every process of the console, so this one ignores it.
    // Wine 8 cannot raise console events (GenerateConsoleCtrlEvent fails with
    // ERROR_INVALID_HANDLE whatever console is attached), but it hands a
    // SIGINT of a program's process to its console handler as Ctrl-C: under
    // Wine the interrupt is that signal, sent by the host's pkill.
    static void InterruptWithCtrlC(const std::string& url) {
        if (!::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
            ::SetConsoleCtrlHandler(nullptr, TRUE);
            ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
            return;
        }
        std::wstring command = L"/usr/bin/pkill -INT -f " + Utf8ToWide(url);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION pkill{};
        ASSERT_TRUE(::CreateProcessW(L"Z:\\usr\\bin\\pkill", command.data(), nullptr, nullptr,
                                     FALSE, 0, nullptr, nullptr, &startup, &pkill));
        ::WaitForSingleObject(pkill.hProcess, 10000);
        ::CloseHandle(pkill.hThread);
        ::CloseHandle(pkill.hProcess);
    }

    bool HasTemporary() const {
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename().wstring().find(L".vykget-") != std::wstring::npos)
                return true;
        return false;
    }

    std::vector<fs::path> Files() const {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename());
        return names;
    }

    fs::path dir;
};

} // namespace

TEST_F(VykgetWindowsTest, DownloadReplacesTheFile) {
    ScriptedServer server(
        Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZnew!").Close());
    const fs::path target = dir / L"Kalmin.exe";
    std::ofstream(target, std::ios::binary) << "old content that is longer";
    // What a killed run left goes; what a live run holds open stays.
    std::ofstream(dir / L".Kalmin.exe.vykget-0123abcd") << "dead";
    const fs::path live = dir / L".Kalmin.exe.vykget-89abcdef";
    const HANDLE held = ::CreateFileW(live.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const ProgramRun run = Vykget(server.Url("/instal/Kalmin.exe"), target);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(target), "MZnew!");
    EXPECT_EQ(Files(), (std::vector<fs::path>{L".Kalmin.exe.vykget-89abcdef", L"Kalmin.exe"}));
    ::CloseHandle(held);
    fs::remove(live);
}

TEST_F(VykgetWindowsTest, NotFoundAndRefusedPortLeaveTheFileAlone) {
    ScriptedServer server(
        Script()
            .ReceiveHead()
            .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n<html/>\r\n")
            .Close());
    const fs::path target = dir / L"Kalmin.exe";
    std::ofstream(target, std::ios::binary) << "old";
    ProgramRun run = Vykget(server.Url("/instal/Kalmin.exe"), target);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.err, "HTTP/1.1 404 Not Found.\n");

    run =
        Vykget("http://127.0.0.1:" + std::to_string(vyktest::ClosedLoopbackPort()) + "/x", target);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.err, "Socket Error # 10061\r\nConnection refused.\n");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Files(), std::vector<fs::path>{L"Kalmin.exe"});
}

TEST_F(VykgetWindowsTest, AHiddenFileStaysHiddenAndCtrlCLeavesItWhole) {
    ScriptedServer server({Script()
                               .ReceiveHead()
                               .Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nMZ half")
                               .Stall(),
                           Script()
                               .ReceiveHead()
                               .Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZnew!")
                               .Close()});
    const fs::path target = dir / L"Kalmin.exe";
    std::ofstream(target, std::ios::binary) << "old";
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ProgramRun run =
        Vykget(server.Url("/interrupted-" + std::to_string(::GetTickCount())), target, true);
    EXPECT_EQ(run.exitCode, 130u);
    EXPECT_EQ(run.err, "vykget: interrupted by Ctrl-C\n");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Files(), std::vector<fs::path>{L"Kalmin.exe"});

    run = Vykget(server.Url("/k"), target);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(ReadFile(target), "MZnew!");
    EXPECT_TRUE(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Files(), std::vector<fs::path>{L"Kalmin.exe"});
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Schannel under Wine: TLS 1.2 (Wine offers no 1.3), the test CA by --cacert.
TEST_F(VykgetWindowsTest, HttpsVerifiedByTheSystemWithAnExtraCA) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    const fs::path target = dir / L"Kalmin.exe";
    std::ofstream(target, std::ios::binary) << "old";
    ProgramRun run = Vykget(s.Url("good"), target);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.err, "The certificate of 127.0.0.1 was not accepted: unknown issuer.\n");
    EXPECT_EQ(ReadFile(target), "old");
    run = Vykget(s.Url("good"), target, false, "-s -v --cacert \"" + s.CA() + "\"");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find("* TLS connection using TLSv1.2 / "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("*  issuer: CN=VYKPatch Test CA, O=VYKPatch tests\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(target), "MZ" + std::string(70000, 'k') + "end");
}

// Without -x or a proxy variable, the proxy of the Internet options, which
// -v names with where it was set; a variable goes before them.
TEST_F(VykgetWindowsTest, TheInternetOptionsProxyUnlessAVariableNamesOne) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    const std::string proxy = s.Address("proxy");
    const std::string url = s.Url("plain", "/instal/Kalmin.exe", "127.0.0.1", "http");
    const std::string script = s.Url("plain", "/direct.pac", "127.0.0.1", "http");
    const struct {
        vyktest::InternetOptions::Settings options;
        const char* variable;
        unsigned exitCode;
        std::string said;
        bool logged; // by the open proxy
    } rows[] = {
        {{proxy, "", ""},
         "",
         0,
         "* proxy 127.0.0.1 port " + std::to_string(s.ports.at("proxy")) +
             " (from Internet options)\n",
         true},
        {{proxy, "", script}, "", 0, "* no proxy (from setup script " + script + ")\n", false},
        {{proxy, "", ""}, "http_proxy=127.0.0.1:1", 1, "Socket Error # 10061", false},
    };
    const fs::path target = dir / L"Kalmin.exe";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options.scriptUrl + row.variable);
        const vyktest::InternetOptions options(row.options);
        _putenv(*row.variable ? row.variable : "http_proxy=");
        const std::size_t logged = s.Log("proxy").size();
        const ProgramRun run = Vykget(url, target, false, "-s -v");
        _putenv("http_proxy=");
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
        EXPECT_EQ(s.Log("proxy").substr(logged).find("): GET " + url) != std::string::npos,
                  row.logged);
    }
}

// The publisher check over CryptoAPI, with the code-signing CA in the root
// store: a renewed certificate chains, an RFC 3161 timestamp counts only from
// a time-stamping authority that chains too, and the signer's signature and
// messageDigest are checked. (The whole table runs through the program in
// the UI test.)
TEST_F(VykgetWindowsTest, SamePublisherAsReadsTheChainAndTheTimestamp) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    const vyktest::TrustedRoot root(s.Signed("codesign-ca.pem"));
    const fs::path target = dir / L"Kalmin.exe";
    const struct {
        const char* download;
        unsigned exitCode;
        std::string said;
    } rows[] = {
        {"new-renewed", 0, "*  timestamp: none\n"},
        {"new-timestamped", 0, "*  timestamp: 20"},
        {"new-timestamped-rogue-tsa", 0, "*  timestamp: none\n"},
        {"new-stranger", 1,
         "is not the publisher's: other subject (signed by CN=Someone Else, O=Someone Else, not "},
        {"new-rogue", 1, "is not the publisher's: untrusted chain ("},
        {"new-bad-signature", 1, "is not the publisher's: signature invalid ("},
        {"new-bad-content", 1, "is not the publisher's: signature invalid ("},
        {"new-forged-issuer", 1, "is not the publisher's: untrusted chain ("},
        {"new-expired-timestamped", 0, "*  timestamp: 2022-06-01 12:00:00 UTC\n"},
        {"new-expired-rogue-timestamped", 1, "is not the publisher's: untrusted chain ("},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.download);
        std::ofstream(target, std::ios::binary) << "old";
        const ProgramRun run = Vykget(
            s.Url("plain", std::string("/signed/") + row.download + ".exe", "127.0.0.1", "http"),
            target, false, "-s -v --same-publisher-as \"" + s.Signed("old-signed.exe") + "\"");
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(target),
                  row.exitCode == 0 ? vyktest::SignedProgram(row.download) : "old");
    }
}

TEST(ProgramManifest, VykgetRunsWithItsUsersRights) {
    const std::string manifest = vyktest::EmbeddedManifest(Utf8ToWide(VYKGET_PATH));
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
}
