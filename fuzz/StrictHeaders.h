#pragma once
// A header block read on its own terms, for checking the client against: a
// field's name is all before its first colon, compared without case; lines
// that start with a blank continue the value above them (each piece trimmed,
// joined by one space); values are trimmed of blanks and control bytes. The
// fields that frame a body are read as written: name and value trimmed of
// spaces and tabs only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vykfuzz {

std::string TrimControls(const std::string& text);
std::string Lower(std::string text);
// A decimal with an optional sign, within 64 bits; none otherwise.
std::optional<std::int64_t> Decimal(const std::string& text);

struct Field {
    std::string name; // lower case
    std::string value;
    std::string framingName; // lower case, spaces and tabs trimmed
    std::string raw;         // spaces and tabs trimmed, pieces joined by a space
};

std::vector<Field> ReadFields(const std::vector<std::string>& lines);
// The first field's value by that name, empty when there is none.
std::string FirstValue(const std::vector<Field>& fields, const std::string& lowerName);

// Content-Length: none when any member (over every line and comma list) is not
// digits alone within 63 bits, or when they differ; else the length, -1 when absent.
std::optional<std::int64_t> ContentLengthOf(const std::vector<Field>& fields);
// Transfer-Encoding: none when present but not "chunked" (any case) as its
// one non-empty member over every line; else whether it is present.
std::optional<bool> ChunkedOf(const std::vector<Field>& fields);

} // namespace vykfuzz
