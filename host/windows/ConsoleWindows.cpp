#include "host/Console.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

void WriteToStandardError(const std::string& text) {
    // Text mode would turn the CR LF of socket messages into CR CR LF.
    std::fflush(stderr);
    _setmode(_fileno(stderr), _O_BINARY);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
