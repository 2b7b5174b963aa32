#pragma once
// The operating system's text for one of its error numbers: trailing blanks,
// control characters and full stops removed; empty when the system has none.

#include <cstdint>
#include <string>

std::string SystemErrorText(std::uint32_t code);

// The calling thread's last operating-system error number.
std::uint32_t LastSystemError();
