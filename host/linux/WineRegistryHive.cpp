#include "host/linux/WineRegistryHive.h"

#include "host/SysUtils.h"

#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 code units to UTF-8, joining surrogate pairs.
std::string Utf16ToUtf8(const std::vector<std::uint16_t>& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t code = units[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, code);
    }
    return out;
}

// A value type as "str(2)" and "hex(7)" write it: hexadecimal digits up to
// the largest positive 32-bit value.
std::optional<std::uint32_t> HexType(const std::string& text) {
    const std::string digits = TrimRight(text);
    if (digits.empty()) return std::nullopt;
    std::uint32_t n = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0 || n > (0x7FFFFFFFu - static_cast<std::uint32_t>(d)) / 16) return std::nullopt;
        n = n * 16 + static_cast<std::uint32_t>(d);
    }
    return n;
}

// Reads an escaped text from text[pos] up to the unescaped terminator; pos ends
// just after the terminator. None when the terminator is missing.
std::optional<std::string> Unescape(const std::string& text, std::size_t& pos, char terminator) {
    std::string out;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == terminator) return out;
        if (c != '\\' || pos >= text.size()) {
            out += c;
            continue;
        }
        const char e = text[pos++];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case 'e':
            out += '\x1b';
            break;
        case 'x': {
            std::uint32_t code = 0;
            int digits = 0;
            while (digits < 4 && pos < text.size() && HexDigit(text[pos]) >= 0) {
                code = code * 16 + static_cast<std::uint32_t>(HexDigit(text[pos++]));
                ++digits;
            }
            if (digits == 0)
                out += 'x';
            else
                AppendUtf8(out, code);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                std::uint32_t code = static_cast<std::uint32_t>(e - '0');
                for (int i = 0; i < 2 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7';
                     ++i)
                    code = code * 8 + static_cast<std::uint32_t>(text[pos++] - '0');
                AppendUtf8(out, code);
            } else {
                out += e; // \\ \" and any other escaped character stand for themselves
            }
        }
    }
    return std::nullopt;
}

std::vector<std::uint8_t> StringData(const std::string& text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

// Comma-separated bytes of one or two hexadecimal digits each.
std::optional<std::vector<std::uint8_t>> HexData(const std::string& text) {
    std::vector<std::uint8_t> data;
    if (Trim(text).empty()) return data;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string byte = Trim(text.substr(start, comma - start));
        if (byte.empty() || byte.size() > 2 || HexDigit(byte[0]) < 0 ||
            (byte.size() == 2 && HexDigit(byte[1]) < 0))
            return std::nullopt;
        data.push_back(static_cast<std::uint8_t>(
            byte.size() == 1 ? HexDigit(byte[0]) : HexDigit(byte[0]) * 16 + HexDigit(byte[1])));
        start = comma + 1;
    }
    return data;
}

// The value data after "=": none when it is not understood.
std::optional<TWineRegValue> ParseData(const std::string& text) {
    std::size_t pos = 0;
    if (text.compare(0, 1, "\"") == 0) {
        pos = 1;
        const auto s = Unescape(text, pos, '"');
        if (!s) return std::nullopt;
        return TWineRegValue{rdString, StringData(*s)};
    }
    if (text.compare(0, 4, "str(") == 0) {
        const auto close = text.find("):\"");
        if (close == std::string::npos) return std::nullopt;
        const auto type = HexType(text.substr(4, close - 4));
        if (!type) return std::nullopt;
        pos = close + 3;
        const auto s = Unescape(text, pos, '"');
        if (!s) return std::nullopt;
        return TWineRegValue{static_cast<std::uint32_t>(*type), StringData(*s)};
    }
    if (text.compare(0, 6, "dword:") == 0) {
        const std::string digits = Trim(text.substr(6));
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        std::uint32_t n = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0) return std::nullopt;
            n = n * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        return TWineRegValue{rdInteger,
                             {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                              static_cast<std::uint8_t>(n >> 16),
                              static_cast<std::uint8_t>(n >> 24)}};
    }
    std::uint32_t type = rdBinary;
    if (text.compare(0, 4, "hex:") == 0) {
        pos = 4;
    } else if (text.compare(0, 4, "hex(") == 0) {
        const auto close = text.find("):");
        if (close == std::string::npos) return std::nullopt;
        const auto parsed = HexType(text.substr(4, close - 4));
        if (!parsed) return std::nullopt;
        type = static_cast<std::uint32_t>(*parsed);
        pos = close + 2;
    } else {
        return std::nullopt;
    }
    auto bytes = HexData(text.substr(pos));
    if (!bytes) return std::nullopt;
    if (type == rdString || type == rdExpandString) {
        // Stored as UTF-16; handed out as UTF-8 like every other string.
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i + 1 < bytes->size(); i += 2)
            units.push_back(static_cast<std::uint16_t>((*bytes)[i] | ((*bytes)[i + 1] << 8)));
        std::string s = Utf16ToUtf8(units);
        std::vector<std::uint8_t> data(s.begin(), s.end());
        return TWineRegValue{type, data};
    }
    return TWineRegValue{type, std::move(*bytes)};
}

class TWineRegistryKey : public TRegistryKey {
public:
    explicit TWineRegistryKey(std::map<std::string, TWineRegValue> values)
        : values_(std::move(values)) {}

    std::optional<TRegValueInfo> QueryValueInfo(const std::string& name) override {
        const auto it = values_.find(LowerCase(name));
        if (it == values_.end()) return std::nullopt;
        return TRegValueInfo{it->second.Type, static_cast<std::int64_t>(it->second.Data.size())};
    }

    // The hive was read whole when the key was opened, so this read cannot fail
    // the way a live registry's can.
    std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& name,
                                                            std::int64_t) override {
        const auto it = values_.find(LowerCase(name));
        if (it == values_.end()) return std::nullopt;
        return it->second.Data;
    }

private:
    std::map<std::string, TWineRegValue> values_;
};

// Wine marks a 64-bit prefix's hives with "#arch=win64" among the lines before
// the first key; a 32-bit prefix says "#arch=win32" or, in older ones, nothing.
bool IsWin64Hive(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line) && (line.empty() || line[0] != '['))
        if (Trim(line) == "#arch=win64") return true;
    return false;
}

// A 32-bit program's view of HKEY_LOCAL_MACHINE\Software in a 64-bit prefix.
std::string Wow64Path(const std::string& path) {
    static const std::string software = "software";
    static const std::string node = "software\\wow6432node";
    if (path.compare(0, software.size(), software) != 0 ||
        (path.size() > software.size() && path[software.size()] != '\\'))
        return path;
    if (path.compare(0, node.size(), node) == 0 &&
        (path.size() == node.size() || path[node.size()] == '\\'))
        return path;
    return node + path.substr(software.size());
}

} // namespace

TWineRegKeys ParseWineRegistry(const std::string& text) {
    TWineRegKeys keys;
    std::map<std::string, TWineRegValue>* current = nullptr;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A value's data may go on over several lines, each but the last ending in "\".
        while (!line.empty() && line.back() == '\\' && line.front() != '[') {
            std::string next;
            if (!std::getline(in, next)) break;
            if (!next.empty() && next.back() == '\r') next.pop_back();
            line.pop_back();
            line += Trim(next);
        }
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t pos = 1;
            const auto name = Unescape(line, pos, ']');
            current = name ? &keys[LowerCase(*name)] : nullptr;
            continue;
        }
        if (current == nullptr) continue;
        std::string name;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            pos = 1;
            const auto n = Unescape(line, pos, '"');
            if (!n) continue;
            name = *n;
        } else {
            continue;
        }
        if (pos >= line.size() || line[pos] != '=') continue;
        if (auto value = ParseData(line.substr(pos + 1)))
            (*current)[LowerCase(name)] = std::move(*value);
    }
    return keys;
}

TWineRegistryHive::TWineRegistryHive(std::string prefixRoot) : prefixRoot_(std::move(prefixRoot)) {}

std::unique_ptr<TRegistryKey> TWineRegistryHive::OpenKey(TRegRootKey root, const std::string& path,
                                                         std::uint32_t access) {
    const std::string file =
        prefixRoot_ + (root == TRegRootKey::rkLocalMachine ? "/system.reg" : "/user.reg");
    if ((access & keyWriteRights) != 0 && ::access(file.c_str(), W_OK) != 0) return nullptr;
    std::ifstream in(file, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream text;
    text << in.rdbuf();
    const std::string hiveText = text.str();
    TWineRegKeys keys = ParseWineRegistry(hiveText);

    std::string wanted = LowerCase(path);
    while (!wanted.empty() && wanted.back() == '\\') wanted.pop_back();
    // VYK's installer is a 32-bit program: read the view it wrote, as the
    // 32-bit updater being replaced does.
    if (root == TRegRootKey::rkLocalMachine && IsWin64Hive(hiveText)) wanted = Wow64Path(wanted);
    const auto it = keys.find(wanted);
    if (it != keys.end()) return std::make_unique<TWineRegistryKey>(std::move(it->second));
    // A key that only holds subkeys has no section of its own.
    const auto below = keys.lower_bound(wanted + "\\");
    if (wanted.empty() ||
        (below != keys.end() && below->first.compare(0, wanted.size() + 1, wanted + "\\") == 0))
        return std::make_unique<TWineRegistryKey>(std::map<std::string, TWineRegValue>{});
    return nullptr;
}
