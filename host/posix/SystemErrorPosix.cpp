#include "host/SystemError.h"

#include <cerrno>
#include <cstring>

std::string SystemErrorText(std::uint32_t code) {
    if (code == 0) return {};
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    std::string out = text ? text : "";
    while (!out.empty() && (static_cast<unsigned char>(out.back()) < 0x21 || out.back() == '.'))
        out.pop_back();
    return out;
}

std::uint32_t LastSystemError() {
    return static_cast<std::uint32_t>(errno);
}
