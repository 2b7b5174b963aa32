#pragma once
// A throw-away Wine prefix for tests: a temporary directory with drive C linked
// as Wine links it, removed with everything in it at the end.

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace vyktest {

class TempPrefix {
public:
    TempPrefix() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vykprefix.XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        std::filesystem::permissions(root, std::filesystem::perms(0755));
        std::filesystem::create_directories(root + "/drive_c");
        std::filesystem::create_directories(root + "/dosdevices");
        std::filesystem::create_directory_symlink("../drive_c", root + "/dosdevices/c:");
        root = std::filesystem::canonical(root).string();
    }
    ~TempPrefix() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempPrefix(const TempPrefix&) = delete;
    TempPrefix& operator=(const TempPrefix&) = delete;

    // Writes a file below the prefix, making its directories.
    std::string Write(const std::string& relative, const std::string& content) const {
        const std::filesystem::path path = root + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string Read(const std::string& relative) const {
        std::ifstream in(root + "/" + relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string root;
};

// Runs check in a child process without root's rights over files (as nobody
// when started as root); true when check returned true there.
inline bool AsUnprivileged(const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace vyktest
