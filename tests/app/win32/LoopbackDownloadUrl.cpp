#include "tests/app/win32/LoopbackDownloadUrl.h"

#include <windows.h>

#include <string>

const char* LoopbackDownloadUrl() {
    static std::string url = [] {
        char value[512] = {};
        const DWORD length =
            ::GetEnvironmentVariableA("VYK_TEST_DOWNLOAD_URL", value, sizeof value);
        // Without the variable, a port on which nothing listens: never a real server.
        if (length == 0 || length >= sizeof value)
            return std::string("http://127.0.0.1:1/instal/Kalmin.exe");
        return std::string(value, length);
    }();
    return url.c_str();
}
