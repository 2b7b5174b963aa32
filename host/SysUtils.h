#pragma once
// Portable text rules of the host services: the directory part of a Windows
// path, the application title derived from the program file's name, and the
// text the error display shows for an exception's message.

#include <string>

// Everything up to and including the last "\" or ":"; empty when there is neither.
// "C:\a\b.ini" gives "C:\a\", "C:b.ini" gives "C:", "b.ini" gives "".
std::string ExtractFilePath(const std::string& path);

// The part after the last "\" or "/", cut at its first ".", every character
// after the first lower-cased: "UPDATE.V2.EXE" gives "Update", "VYKPatch" "Vykpatch".
std::string ApplicationTitleFromFileName(const std::string& moduleFileName);

// The message with "." appended when its last byte is greater than "." (so a
// letter, digit, ":", "?" or any byte from 0x80 up gains one); empty stays empty.
std::string ErrorDisplayText(const std::string& message);
