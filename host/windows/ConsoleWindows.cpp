#include "host/Console.h"

#include <windows.h>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

void WriteToStandardError(const std::string& text) {
    // Text mode would turn the CR LF of socket messages into CR CR LF.
    std::fflush(stderr);
    _setmode(_fileno(stderr), _O_BINARY);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool WriteToStandardOutput(const void* data, std::size_t size) {
    // A body is bytes: text mode would add a CR before every LF.
    static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
    (void)binary;
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
