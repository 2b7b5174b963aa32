#include "host/SysUtils.h"

#include <cctype>

std::string ExtractFilePath(const std::string& path) {
    const auto cut = path.find_last_of("\\:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ApplicationTitleFromFileName(const std::string& moduleFileName) {
    const auto slash = moduleFileName.find_last_of("\\/");
    std::string name =
        slash == std::string::npos ? moduleFileName : moduleFileName.substr(slash + 1);
    const auto dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    for (std::size_t i = 1; i < name.size(); ++i)
        name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    return name;
}

std::string ErrorDisplayText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

std::string Trim(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(b, e - b);
}

std::string TrimRight(const std::string& text) {
    std::size_t e = text.size();
    while (e > 0 && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(0, e);
}

std::string UpperCase(const std::string& text) {
    std::string out = text;
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(const std::string& text) {
    std::string out = text;
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool TextIsSame(const std::string& a, const std::string& b) {
    return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

bool TextStartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && TextIsSame(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
