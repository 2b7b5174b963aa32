#pragma once
// Shared types and helpers of the network layers: byte blocks, 8-bit texts,
// the integer conversion of address parts, address texts and the tick counter.

#include "host/SysUtils.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using TIdBytes = std::vector<std::uint8_t>;

enum TIdIPVersion : int { Id_IPv4 = 0, Id_IPv6 = 1 };

// One byte per character, no character-set conversion.
TIdBytes ToBytes(const std::string& text);
std::string BytesToString(const TIdBytes& bytes, std::size_t offset = 0,
                          std::size_t count = std::string::npos);

// Server bytes as a message may show them: control bytes (C0 and C1) and
// bytes that are not UTF-8 become "?".
std::string ShownText(const std::string& text);

// Integer conversion of address parts: trimmed, optional sign, decimal digits or
// hexadecimal after "$", "x", "X", "0x" or "0X"; the whole text must be used and
// the value must fit the target width.
std::optional<std::int32_t> TryTextToInt32(const std::string& text);
std::optional<std::int64_t> TryTextToInt64(const std::string& text);
// The same with decimal digits only, as numbers on the HTTP wire are written.
std::optional<std::int32_t> TryDecimalToInt32(const std::string& text);
std::optional<std::int64_t> TryDecimalToInt64(const std::string& text);
// As TryTextToInt32; raises EConvertError "'%s' is not a valid integer value".
std::int32_t TextToInt32(const std::string& text);

bool IsIPv4Text(const std::string& text);
// Eight upper-case hexadecimal groups joined by ":", or empty for an invalid text.
std::string CanonicalIPv6Text(const std::string& text);

class TIdIPAddress {
public:
    TIdIPAddress() = default;
    virtual ~TIdIPAddress() = default;

    // None when the text is neither an IPv6 text nor a classic IPv4 number.
    static std::unique_ptr<TIdIPAddress> ParseAddress(const std::string& text);
    static std::optional<std::uint32_t> ParseIPv4Number(const std::string& text);

    TIdBytes NetworkBytes() const;

    TIdIPVersion AddressKind = Id_IPv4;
    std::uint32_t IPv4Value = 0;
    std::array<std::uint16_t, 8> IPv6Words{};
};

// Millisecond tick counter that may wrap; the difference allows for one wrap.
std::uint32_t TickCount();
std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now);
