// vykget URL FILE: downloads one URL with the updater's HTTP client.
// The body goes into a temporary file beside FILE, which replaces FILE only
// when the download returned normally. On failure FILE is untouched, the
// message the updater's error box would show goes to standard error, and the
// exit code is 1; wrong arguments exit with 2.

#include "host/Console.h"
#include "host/FileStream.h"
#include "host/SysUtils.h"
#include "http/IdHTTP.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path FromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string ToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string TemporaryNameBeside(const std::string& file) {
    const fs::path target = FromUtf8(file);
    std::random_device entropy;
    const auto salt = static_cast<unsigned long long>(entropy()) ^
                      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path temp = target;
    temp.replace_filename("." + ToUtf8(target.filename()) + ".vykget-" + std::to_string(salt % 1000000007ull));
    return ToUtf8(temp);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        WriteToStandardError("usage: vykget URL FILE\n");
        return 2;
    }
    const std::string url = argv[1];
    const std::string file = argv[2];
    std::string temp;
    try {
        temp = TemporaryNameBeside(file);
        {
            TFileStream stream(temp, fmCreate);
            TIdHTTP http;
            http.GetToStream(url, stream);
        }
        fs::rename(FromUtf8(temp), FromUtf8(file));
        return 0;
    } catch (const std::exception& error) {
        // The name is ours alone, so whatever stands under it is a leftover.
        if (!temp.empty()) {
            std::error_code ignored;
            fs::remove(FromUtf8(temp), ignored);
        }
        WriteToStandardError(ErrorDisplayText(error.what()) + "\n");
        return 1;
    }
}
