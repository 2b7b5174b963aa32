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
        if (value >
            static_cast<__int128>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0))
            return std::nullopt;
    }
    return static_cast<std::int64_t>(negative ? -value : value);
}

namespace {

std::string TrimBlanks(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    return text.substr(b, e - b);
}

// The members of the comma lists of every field of that name, blanks trimmed.
std::vector<std::string> Members(const std::vector<Field>& fields, const std::string& lowerName) {
    std::vector<std::string> members;
    for (const auto& field : fields) {
        if (field.framingName != lowerName) continue;
        for (std::size_t from = 0;;) {
            const auto comma = field.raw.find(',', from);
            members.push_back(TrimBlanks(field.raw.substr(from, comma - from)));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    return members;
}

} // namespace

std::vector<Field> ReadFields(const std::vector<std::string>& lines) {
    std::vector<Field> fields;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string::npos) continue;
        std::string value = lines[i].substr(colon + 1);
        std::string raw = value;
        for (std::size_t next = i + 1; next < lines.size() && !lines[next].empty() &&
                                       (lines[next][0] == ' ' || lines[next][0] == '\t');
             ++next) {
            value = TrimControls(value) + " " + TrimControls(lines[next]);
            raw += " " + lines[next];
        }
        const std::string name = lines[i].substr(0, colon);
        // A continuation line belongs to the value above: it frames nothing itself.
        const bool continuation = lines[i][0] == ' ' || lines[i][0] == '\t';
        fields.push_back({Lower(name), TrimControls(value),
                          continuation ? "" : Lower(TrimBlanks(name)), TrimBlanks(raw)});
    }
    return fields;
}

std::string FirstValue(const std::vector<Field>& fields, const std::string& lowerName) {
    for (const auto& field : fields)
        if (field.name == lowerName) return field.value;
    return {};
}

std::optional<std::int64_t> ContentLengthOf(const std::vector<Field>& fields) {
    const std::vector<std::string> members = Members(fields, "content-length");
    if (members.empty()) return -1;
    for (const auto& member : members)
        if (member != members.front() || member.empty() ||
            member.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
    const auto length = Decimal(members.front());
    if (!length) return std::nullopt;
    return length;
}

std::optional<bool> ChunkedOf(const std::vector<Field>& fields) {
    bool present = false;
    std::vector<std::string> codings;
    for (const auto& field : fields) present = present || field.framingName == "transfer-encoding";
    for (const auto& member : Members(fields, "transfer-encoding"))
        if (!member.empty()) codings.push_back(Lower(member));
    if (!present) return false;
    if (codings.size() != 1 || codings.front() != "chunked") return std::nullopt;
    return true;
}

} // namespace vykfuzz
