#include "host/SysUtils.h"

#include <cctype>

std::string ExtractFilePath(const std::string& path) {
    const auto cut = path.find_last_of("\\:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ApplicationTitleFromFileName(const std::string& moduleFileName) {
    const auto slash = moduleFileName.find_last_of("\\/");
    std::string name = slash == std::string::npos ? moduleFileName : moduleFileName.substr(slash + 1);
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
