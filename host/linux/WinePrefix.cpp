#include "host/linux/WinePrefix.h"

#include "host/FileStream.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool HasDrive(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

bool Exists(const std::string& hostPath) {
    struct stat st {};
    return ::lstat(hostPath.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& hostPath) {
    struct stat st {};
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of directory whose name equals name without case, or empty.
std::string FindWithoutCase(const std::string& directory, const std::string& name) {
    DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// realpath of the longest existing ancestor, with the rest appended unchanged.
std::string Canonical(const std::string& absolute) {
    std::string head = absolute;
    std::string tail;
    while (true) {
        char resolved[PATH_MAX];
        if (::realpath(head.empty() ? "/" : head.c_str(), resolved) != nullptr) {
            std::string out = resolved;
            if (!tail.empty()) out += (out == "/" ? "" : "/") + tail;
            return out;
        }
        const auto slash = head.find_last_of('/');
        if (slash == std::string::npos) return absolute;
        const std::string last = head.substr(slash + 1);
        tail = tail.empty() ? last : last + "/" + tail;
        head.resize(slash);
    }
}

} // namespace

TWinePrefix::TWinePrefix(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string TWinePrefix::DefaultRoot() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string TWinePrefix::DriveDirectory(char letter) const {
    const std::string link = root_ + "/dosdevices/" + letter + ":";
    if (IsDirectory(link)) return link;
    if (letter == 'z' && !Exists(link)) return "/";
    return {};
}

std::string TWinePrefix::CurrentWindowsDirectory() const {
    return ToWindowsPath(ExpandFileName("."));
}

std::string TWinePrefix::WindowsFullName(const std::string& windowsPath) const {
    std::string drive;
    std::string base; // directory the path is relative to, as "X:\..."
    std::string rest;
    if (HasDrive(windowsPath)) {
        drive = std::string(1, static_cast<char>(
                                   std::toupper(static_cast<unsigned char>(windowsPath[0])))) +
                ":";
        rest = windowsPath.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            const std::string current = CurrentWindowsDirectory();
            base = current.compare(0, 2, drive) == 0 ? current : drive + "\\";
        }
    } else {
        const std::string current = CurrentWindowsDirectory();
        drive = current.substr(0, 2);
        rest = windowsPath;
        if (rest.empty() || !IsSeparator(rest[0])) base = current;
    }
    std::vector<std::string> parts;
    auto push = [&parts](const std::string& text) {
        std::string part;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || IsSeparator(text[i])) {
                if (part == "..") {
                    if (!parts.empty()) parts.pop_back();
                } else if (!part.empty() && part != ".") {
                    parts.push_back(part);
                }
                part.clear();
            } else {
                part += text[i];
            }
        }
    };
    if (!base.empty()) push(base.substr(2));
    push(rest);
    std::string out = drive;
    for (const auto& part : parts) out += "\\" + part;
    if (parts.empty() || (!rest.empty() && IsSeparator(rest.back()))) out += "\\";
    return out;
}

std::string TWinePrefix::ToHostPath(const std::string& windowsPath) const {
    const std::string full = WindowsFullName(windowsPath);
    std::string current =
        DriveDirectory(static_cast<char>(std::tolower(static_cast<unsigned char>(full[0]))));
    if (current.empty()) return {};
    if (current == "/") current.clear();
    bool matching = true; // once a component is missing, the rest cannot exist
    std::string part;
    for (std::size_t i = 3; i <= full.size(); ++i) {
        if (i < full.size() && full[i] != '\\') {
            part += full[i];
            continue;
        }
        if (part.empty()) continue;
        std::string name = part;
        if (matching && !Exists(current + "/" + part)) {
            const std::string found = FindWithoutCase(current, part);
            if (found.empty())
                matching = false;
            else
                name = found;
        }
        current += "/" + name;
        part.clear();
    }
    if (current.empty()) return "/";
    if (full.back() == '\\' && full.size() > 3) current += "/";
    return current;
}

std::string TWinePrefix::ToWindowsPath(const std::string& hostPath) const {
    const std::string path = Canonical(ExpandFileName(hostPath));
    std::string bestTarget;
    char bestLetter = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        char resolved[PATH_MAX];
        const std::string link = root_ + "/dosdevices/" + letter + ":";
        if (::realpath(link.c_str(), resolved) == nullptr) continue;
        const std::string target = resolved;
        const bool prefix =
            target == "/" || (path.compare(0, target.size(), target) == 0 &&
                              (path.size() == target.size() || path[target.size()] == '/'));
        if (prefix && (bestLetter == 0 || target.size() > bestTarget.size())) {
            bestTarget = target;
            bestLetter = letter;
        }
    }
    std::string rest;
    char letter = 'Z';
    if (bestLetter != 0) {
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(bestLetter)));
        rest = bestTarget == "/" ? path : path.substr(bestTarget.size());
    } else {
        rest = path;
    }
    std::string out(1, letter);
    out += ":";
    for (char c : rest) out += c == '/' ? '\\' : c;
    if (out.size() == 2) out += "\\";
    return out;
}
