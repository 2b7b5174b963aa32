#include "host/Exception.h"

#include "host/SystemError.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string Format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
        out.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return out;
}

EConvertError EConvertError::InvalidInteger(const std::string& text) {
    return EConvertError("'" + text + "' is not a valid integer value");
}

EOSError::EOSError(std::uint32_t code) : EOSError(code, SystemErrorText(code)) {}

EOSError::EOSError(std::uint32_t code, const std::string& text)
    : Exception(Format("System Error.  Code: %d.\r\n%s", static_cast<int>(code), text.c_str())),
      code_(code) {}
