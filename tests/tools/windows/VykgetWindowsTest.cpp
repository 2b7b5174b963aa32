// Black-box tests of vykget.exe under Windows against the scripted loopback
// server: exit codes, the error text on standard error, and the target file.

#include "host/windows/WideText.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/windows/EmbeddedManifest.h"

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
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs vykget.exe with standard error going into a file.
    ProgramRun Vykget(const std::string& url, const fs::path& target) {
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
        std::wstring command =
            L"\"" + program + L"\" \"" + Utf8ToWide(url) + L"\" \"" + target.wstring() + L"\"";
        PROCESS_INFORMATION process{};
        ProgramRun run;
        if (::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &process)) {
            ::WaitForSingleObject(process.hProcess, 60000);
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
    const ProgramRun run = Vykget(server.Url("/instal/Kalmin.exe"), target);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(target), "MZnew!");
    EXPECT_EQ(Files(), std::vector<fs::path>{L"Kalmin.exe"});
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

TEST(ProgramManifest, VykgetRunsWithItsUsersRights) {
    const std::string manifest = vyktest::EmbeddedManifest(Utf8ToWide(VYKGET_PATH));
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
}
