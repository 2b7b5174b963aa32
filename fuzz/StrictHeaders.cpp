#include "fuzz/StrictHeaders.h"

#include <limits>

namespace vykfuzz {

std::string TrimControls(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(b, e - b);
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::optional<std::int64_t> Decimal(const std::string& raw) {
    const std::string text = TrimControls(raw);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    __int128 value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<__int128>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0))
            return std::nullopt;
    }
    return static_cast<std::int64_t>(negative ? -value : value);
}

std::vector<Field> ReadFields(const std::vector<std::string>& lines) {
    std::vector<Field> fields;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string::npos) continue;
        std::string value = lines[i].substr(colon + 1);
        for (std::size_t next = i + 1;
             next < lines.size() && !lines[next].empty() && (lines[next][0] == ' ' || lines[next][0] == '\t'); ++next)
            value = TrimControls(value) + " " + TrimControls(lines[next]);
        fields.push_back({Lower(lines[i].substr(0, colon)), TrimControls(value)});
    }
    return fields;
}

std::string FirstValue(const std::vector<Field>& fields, const std::string& lowerName) {
    for (const auto& field : fields)
        if (field.name == lowerName) return field.value;
    return {};
}

std::optional<std::int64_t> ContentLengthOf(const std::vector<Field>& fields) {
    std::vector<std::optional<std::int64_t>> lengths;
    for (const auto& field : fields) {
        if (field.name != "content-length") continue;
        for (std::size_t from = 0;;) {
            const auto comma = field.value.find(',', from);
            lengths.push_back(Decimal(field.value.substr(from, comma - from)));
            if (comma == std::string::npos || comma + 1 == field.value.size()) break; // "5," is 5
            from = comma + 1;
        }
    }
    for (const auto& length : lengths)
        if (length != lengths.front()) return std::nullopt;
    if (lengths.empty() || !lengths.front() || *lengths.front() < 0) return -1;
    return lengths.front();
}

} // namespace vykfuzz
