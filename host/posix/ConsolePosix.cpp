#include "host/Console.h"

#include <cstdio>
#include <unistd.h>

void WriteToStandardError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
