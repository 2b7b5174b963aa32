#include "net/IdGlobal.h"

#include "host/Exception.h"

#include <chrono>
#include <cstdio>
#include <limits>

TIdBytes ToBytes(const std::string& text) {
    return TIdBytes(text.begin(), text.end());
}

std::string BytesToString(const TIdBytes& bytes, std::size_t offset, std::size_t count) {
    if (offset >= bytes.size()) return {};
    const std::size_t n = std::min(count, bytes.size() - offset);
    return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, n);
}

namespace {

// Reads the trimmed text into a value within [-limit-1, limit].
std::optional<std::int64_t> ConvertInteger(const std::string& raw, std::uint64_t limit,
                                           bool hexAllowed = true) {
    const std::string text = Trim(raw);
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (hexAllowed && i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (hexAllowed && i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    const std::uint64_t max = negative ? limit + 1 : limit;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = base == 16 ? HexDigit(text[i])
                                 : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        if (value > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    if (negative) {
        if (value == limit + 1) return -static_cast<std::int64_t>(limit) - 1;
        return -static_cast<std::int64_t>(value);
    }
    return static_cast<std::int64_t>(value);
}

} // namespace

std::optional<std::int32_t> TryTextToInt32(const std::string& text) {
    auto v = ConvertInteger(text, 0x7FFFFFFFull);
    if (!v) return std::nullopt;
    return static_cast<std::int32_t>(*v);
}

std::optional<std::int64_t> TryTextToInt64(const std::string& text) {
    return ConvertInteger(text, 0x7FFFFFFFFFFFFFFFull);
}

std::optional<std::int32_t> TryDecimalToInt32(const std::string& text) {
    auto v = ConvertInteger(text, 0x7FFFFFFFull, false);
    if (!v) return std::nullopt;
    return static_cast<std::int32_t>(*v);
}

std::optional<std::int64_t> TryDecimalToInt64(const std::string& text) {
    return ConvertInteger(text, 0x7FFFFFFFFFFFFFFFull, false);
}

std::int32_t TextToInt32(const std::string& text) {
    auto v = TryTextToInt32(text);
    if (!v) throw EConvertError::InvalidInteger(text);
    return *v;
}

namespace {

// Splits off the text before the first "." (all of it when there is none).
std::string SplitOffDot(std::string& rest) {
    const auto dot = rest.find('.');
    std::string part;
    if (dot == std::string::npos) {
        part = rest;
        rest.clear();
    } else {
        part = rest.substr(0, dot);
        rest.erase(0, dot + 1);
    }
    return part;
}

std::optional<unsigned> ReadHexGroup(const std::string& text) {
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(d);
        if (value > 0xFFFF) return std::nullopt;
    }
    return value;
}

} // namespace

bool IsIPv4Text(const std::string& text) {
    std::string rest = text;
    bool good = true;
    for (int i = 0; i < 4; ++i) {
        const auto v = TryTextToInt32(SplitOffDot(rest));
        const std::int32_t n = v ? *v : -1;
        if (n < 0 || n > 255) good = false;
    }
    return good && rest.empty();
}

std::string CanonicalIPv6Text(const std::string& input) {
    if (input.empty()) return {};
    std::string s = input;
    if (s.front() == ':') s.insert(s.begin(), '0');
    if (s.back() == ':') s.push_back('0');

    std::vector<std::size_t> colons, dots;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.') {
            dots.push_back(i);
            if (dots.size() == 4) return {};
        } else if (c == ':') {
            colons.push_back(i);
            if (colons.size() == 8) return {};
        } else if (c >= '0' && c <= '9') {
        } else if (HexDigit(c) >= 0 && dots.empty()) {
        } else {
            return {};
        }
    }
    const std::size_t c = colons.size();
    if (dots.size() == 3) {
        if (c < 2 || c > 6 || dots.front() < colons.back()) return {};
    } else if (dots.empty()) {
        if (c < 2 || c > 7) return {};
    } else {
        return {};
    }

    char buf[16];
    std::string out;
    auto writeGroup = [&](const std::string& text) {
        const auto v = ReadHexGroup(text);
        if (!v) return false;
        std::snprintf(buf, sizeof buf, "%X:", *v);
        out += buf;
        return true;
    };
    if (!writeGroup(s.substr(0, colons[0]))) return {};
    bool sawDouble = false;
    for (std::size_t k = 1; k < c; ++k) {
        if (colons[k] == colons[k - 1] + 1) {
            if (sawDouble) return {};
            sawDouble = true;
            const std::size_t fill = dots.empty() ? 8 - c : 7 - c;
            for (std::size_t n = 0; n < fill; ++n) out += "0:";
        } else if (!writeGroup(s.substr(colons[k - 1] + 1, colons[k] - colons[k - 1] - 1))) {
            return {};
        }
    }
    if (dots.empty()) {
        if (!writeGroup(s.substr(colons.back() + 1))) return {};
    } else {
        const std::string parts[4] = {
            s.substr(colons.back() + 1, dots[0] - colons.back() - 1),
            s.substr(dots[0] + 1, dots[1] - dots[0] - 1),
            s.substr(dots[1] + 1, dots[2] - dots[1] - 1),
            s.substr(dots[2] + 1),
        };
        int bytes[4];
        for (int i = 0; i < 4; ++i) {
            const auto v = TryTextToInt32(parts[i]);
            if (!v || *v < 0 || *v > 255) return {};
            bytes[i] = *v;
        }
        std::snprintf(buf, sizeof buf, "%02X%02X:", bytes[0], bytes[1]);
        out += buf;
        std::snprintf(buf, sizeof buf, "%02X%02X:", bytes[2], bytes[3]);
        out += buf;
    }
    out.pop_back();
    return out;
}

std::unique_ptr<TIdIPAddress> TIdIPAddress::ParseAddress(const std::string& text) {
    auto address = std::make_unique<TIdIPAddress>();
    const std::string canonical = CanonicalIPv6Text(text);
    if (!canonical.empty()) {
        std::string rest = canonical;
        for (auto& word : address->IPv6Words) {
            const auto colon = rest.find(':');
            const std::string part = rest.substr(0, colon);
            rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
            word = static_cast<std::uint16_t>(ReadHexGroup(part).value_or(0));
        }
        address->AddressKind = Id_IPv6;
        return address;
    }
    const auto v4 = ParseIPv4Number(text);
    if (!v4) return nullptr;
    address->IPv4Value = *v4;
    address->AddressKind = Id_IPv4;
    return address;
}

std::optional<std::uint32_t> TIdIPAddress::ParseIPv4Number(const std::string& text) {
    std::string rest = text;
    std::uint64_t value = 0;
    int remaining = 4;
    while (true) {
        const bool last = rest.find('.') == std::string::npos;
        const std::string part = SplitOffDot(rest);
        if (part.empty()) break;
        std::uint64_t p = 0;
        if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
            if (part.size() == 2) return std::nullopt;
            for (std::size_t i = 2; i < part.size(); ++i) {
                const int d = HexDigit(part[i]);
                if (d < 0) return std::nullopt;
                p = (p << 4) | static_cast<std::uint64_t>(d);
            }
        } else {
            const auto v = TryTextToInt64(part);
            if (!v) return std::nullopt;
            bool octal = part[0] == '0';
            for (char ch : part)
                if (ch < '0' || ch > '7') octal = false;
            if (octal) {
                p = 0;
                for (char ch : part) p = (p << 3) | static_cast<std::uint64_t>(ch - '0');
            } else {
                p = static_cast<std::uint64_t>(*v);
            }
        }
        if (!last || remaining < 2) {
            value = (value << 8) | (p & 0xFF);
            --remaining;
        } else {
            const int n = remaining;
            const std::uint64_t mask = n >= 4 ? 0xFFFFFFFFull : ((1ull << (8 * n)) - 1);
            value = (value << (8 * n)) | (p & mask);
            remaining = 0;
        }
        if (last) break;
    }
    return static_cast<std::uint32_t>(value);
}

TIdBytes TIdIPAddress::NetworkBytes() const {
    TIdBytes out;
    if (AddressKind == Id_IPv4) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(IPv4Value >> shift));
    } else {
        for (auto w : IPv6Words) {
            out.push_back(static_cast<std::uint8_t>(w >> 8));
            out.push_back(static_cast<std::uint8_t>(w));
        }
    }
    return out;
}

std::uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) {
    return now - start;
}

// Server bytes go into messages that a box or terminal shows: control bytes
// and bytes that are not UTF-8 are shown as "?", so no message comes out blank
// or garbled.
std::string ShownText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80             ? 1
                             : (c & 0xE0) == 0xC0 ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        bool valid =
            length != 0 && i + length <= text.size() && !(length == 2 && c < 0xC2) && !(c > 0xF4);
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length == 3) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            valid = !(c == 0xE0 && next < 0xA0) && !(c == 0xED && next >= 0xA0);
        } else if (valid && length == 4) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            valid = !(c == 0xF0 && next < 0x90) && !(c == 0xF4 && next >= 0x90);
        }
        const bool control =
            (length == 1 && (c < 0x20 || c == 0x7F)) ||
            (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (!valid || control) {
            out += '?';
            i += valid ? length : 1;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}
