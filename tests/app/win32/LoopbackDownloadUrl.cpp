#include "tests/app/win32/LoopbackDownloadUrl.h"

#include <windows.h>

#include <string>

namespace {

std::string Variable(const char* name, const std::string& fallback) {
    char value[1024] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return fallback;
    return std::string(value, length);
}

} // namespace

const char* LoopbackDownloadUrl() {
    // Without the variable, a port on which nothing listens: never a real server.
    static const std::string url =
        Variable("VYK_TEST_DOWNLOAD_URL", "http://127.0.0.1:1/instal/Kalmin.exe");
    return url.c_str();
}

const char* LoopbackPublisherKeys() {
    static const std::string keys = Variable("VYK_TEST_PUBLISHER_KEYS", "");
    return keys.c_str();
}
