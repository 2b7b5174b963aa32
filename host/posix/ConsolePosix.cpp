#include "host/Console.h"

#include <cstdio>

void WriteToStandardError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}
