#pragma once
// Writes bytes to standard error exactly as given (no line-end translation),
// so that messages holding CR LF come out the same on every platform.

#include <cstddef>
#include <string>

void WriteToStandardError(const std::string& text);
// Writes bytes to standard output as they are (binary on every platform);
// false when not all of them were taken.
bool WriteToStandardOutput(const void* data, std::size_t size);
// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();
