#pragma once
// A reader of DER encodings, enough to walk a structure whose shape the caller
// knows (a certificate, a signed message's content). It never reads outside
// the bytes it was given: an element that claims more than is left, an
// indefinite length or a multi-byte tag raises EDerError.

#include "host/Exception.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

VYK_DECLARE_EXCEPTION(EDerError, Exception);

constexpr std::uint8_t kDerInteger = 0x02;
constexpr std::uint8_t kDerBitString = 0x03;
constexpr std::uint8_t kDerOctetString = 0x04;
constexpr std::uint8_t kDerOid = 0x06;
constexpr std::uint8_t kDerUtcTime = 0x17;
constexpr std::uint8_t kDerGeneralizedTime = 0x18;
constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint8_t kDerSet = 0x31;
// [n] of a constructed, context-specific element.
constexpr std::uint8_t DerContext(int n) {
    return static_cast<std::uint8_t>(0xA0 + n);
}

struct TDerElement {
    std::uint8_t Tag = 0;
    const std::uint8_t* Start = nullptr; // the tag's first byte
    std::size_t Size = 0;                // tag, length and value
    const std::uint8_t* Value = nullptr;
    std::size_t ValueSize = 0;

    std::vector<std::uint8_t> Encoding() const { return {Start, Start + Size}; }
    std::vector<std::uint8_t> Bytes() const { return {Value, Value + ValueSize}; }
};

class TDerReader {
public:
    TDerReader(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
    explicit TDerReader(const TDerElement& constructed)
        : TDerReader(constructed.Value, constructed.ValueSize) {}

    bool AtEnd() const { return at_ == end_; }
    std::uint8_t PeekTag() const;
    TDerElement Next();
    // The next element, which must carry tag.
    TDerElement Expect(std::uint8_t tag);
    // The next element when it carries tag; otherwise nothing is consumed.
    bool Optional(std::uint8_t tag, TDerElement& element);

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

// The dotted text of an object identifier's value ("1.2.840.113549.1.7.2").
std::string OidText(const TDerElement& oid);
// A UTCTime or GeneralizedTime as seconds since 1970 UTC.
std::int64_t DerTimeSeconds(const TDerElement& time);
