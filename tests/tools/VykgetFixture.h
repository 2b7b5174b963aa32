#pragma once
// Runs the vykget program in a folder of the test's own and reads what it left.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vyktest {

namespace fs = std::filesystem;

struct ProgramRun {
    int exitCode;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class VykgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vykget-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // environment: "name=value ..." for the run; the proxy variables of the
    // test's own environment never reach it, so no test goes through a proxy
    // it did not start.
    ProgramRun Vykget(const std::string& arguments, const std::string& environment = {}) {
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        // Run in the test's folder, so that a relative FILE lands there too.
        const std::string command = "cd '" + dir.string() +
                                    "' && env -u http_proxy -u HTTP_PROXY -u https_proxy -u "
                                    "HTTPS_PROXY -u no_proxy -u NO_PROXY " +
                                    environment + " " + std::string(VYKGET_PATH) + " " + arguments +
                                    " >" + out.string() + " 2>" + err.string();
        const int status = std::system(command.c_str());
        ProgramRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
        fs::remove(out);
        fs::remove(err);
        return run;
    }

    // Only the target file may be left in the folder: no temporary file.
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir;
};

} // namespace vyktest
