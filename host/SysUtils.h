#pragma once
// Portable text rules of the host services: 8-bit text helpers (one byte per
// character, ASCII case only), the directory part of a Windows path, the
// application title derived from the program file's name, and the text the
// error display shows for an exception's message.

#include <string>

// Removes spaces and control characters (every byte up to 0x20) at both ends.
std::string Trim(const std::string& text);
std::string TrimRight(const std::string& text);
// ASCII letters only; other bytes stay.
std::string UpperCase(const std::string& text);
std::string LowerCase(const std::string& text);
bool TextIsSame(const std::string& a, const std::string& b);
bool TextStartsWith(const std::string& text, const std::string& prefix);
// The value of a hexadecimal digit in either case, -1 for any other byte.
int HexDigit(char c);

// Everything up to and including the last "\" or ":"; empty when there is neither.
// "C:\a\b.ini" gives "C:\a\", "C:b.ini" gives "C:", "b.ini" gives "".
std::string ExtractFilePath(const std::string& path);

// The part after the last "\" or "/", cut at its first ".", every character
// after the first lower-cased: "UPDATE.V2.EXE" gives "Update", "VYKPatch" "Vykpatch".
std::string ApplicationTitleFromFileName(const std::string& moduleFileName);

// The message with "." appended when its last byte is greater than "." (so a
// letter, digit, ":", "?" or any byte from 0x80 up gains one); empty stays empty.
std::string ErrorDisplayText(const std::string& message);
