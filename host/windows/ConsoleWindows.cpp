#include "host/Console.h"

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
