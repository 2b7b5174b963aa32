// Black-box tests of the vykget program against the scripted loopback server.

#include "tests/support/ScriptedServer.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using vyktest::Script;
using vyktest::ScriptedServer;

namespace {

struct ProgramRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class VykgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vykget-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ProgramRun Vykget(const std::string& arguments) {
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        const std::string command = std::string(VYKGET_PATH) + " " + arguments + " >" + out.string() + " 2>" +
                                    err.string();
        const int status = std::system(command.c_str());
        ProgramRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
        fs::remove(out);
        fs::remove(err);
        return run;
    }

    // Only the target file may be left in the folder: no temporary file.
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir;
};

} // namespace

TEST_F(VykgetTest, DownloadReplacesTheFileAndPrintsNothing) {
    ScriptedServer server(Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZnew!").Close());
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
        Script().ReceiveHead().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n<html/>\r\n").Close());
    const fs::path target = dir / "Kalmin.exe";
    std::ofstream(target) << "old";
    const ProgramRun run = Vykget(server.Url("/instal/Kalmin.exe") + " " + target.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "HTTP/1.1 404 Not Found.\n");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Files(), std::vector<std::string>{"Kalmin.exe"});
}

TEST_F(VykgetTest, CutShortBodyLeavesAnAbsentFileAbsent) {
    ScriptedServer server(Script().ReceiveHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nMZ").Close());
    const ProgramRun run = Vykget(server.Url("/k") + " " + (dir / "Kalmin.exe").string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Connection Closed Gracefully.\n");
    EXPECT_TRUE(Files().empty());
}

TEST_F(VykgetTest, NetworkFailuresPrintTheSocketErrorText) {
    const std::string target = (dir / "f").string();
    ProgramRun run = Vykget("http://127.0.0.1:" + std::to_string(vyktest::ClosedLoopbackPort()) + "/x " + target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Socket Error # 10061\r\nConnection refused.\n");
    run = Vykget("http://no-such-host.invalid/x " + target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Socket Error # 11001\r\nHost not found.\n");
    EXPECT_TRUE(Files().empty());
}

TEST_F(VykgetTest, WrongArgumentsPrintUsage) {
    const ProgramRun run = Vykget("only-one");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.rfind("usage: vykget URL FILE", 0), 0u);
}
