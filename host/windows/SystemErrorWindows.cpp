#include "host/SystemError.h"

#include "host/windows/WideText.h"

#include <windows.h>

std::string SystemErrorText(std::uint32_t code) {
    wchar_t buffer[256];
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, code, 0, buffer, 256, nullptr);
    std::string out = WideToUtf8(std::wstring(buffer, length));
    // UTF-8 sequences use only bytes from 0x80 up, so trimming bytewise is safe.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) < 0x21 || out.back() == '.'))
        out.pop_back();
    return out;
}

std::uint32_t LastSystemError() {
    return ::GetLastError();
}
