#pragma once
// Writes bytes to standard error exactly as given (no line-end translation),
// so that messages holding CR LF come out the same on every platform.

#include <string>

void WriteToStandardError(const std::string& text);
// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();
