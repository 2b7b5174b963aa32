#pragma once
// The program's texts are UTF-8; the Windows API is called in its wide (UTF-16)
// form so that every text shows the same on every system code page.

#include <string>

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text);
