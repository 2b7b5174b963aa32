#include "host/DerReader.h"

namespace {

int Digits(const std::uint8_t* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw EDerError("a time holds a character other than a digit");
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

std::uint8_t TDerReader::PeekTag() const {
    if (AtEnd()) throw EDerError("an element is missing");
    return *at_;
}

TDerElement TDerReader::Next() {
    TDerElement element;
    element.Start = at_;
    if (end_ - at_ < 2) throw EDerError("an element is cut short");
    element.Tag = *at_++;
    if ((element.Tag & 0x1F) == 0x1F) throw EDerError("a multi-byte tag");
    std::size_t length = *at_++;
    if (length & 0x80) {
        const std::size_t octets = length & 0x7F;
        if (octets == 0 || octets > 4) throw EDerError("an indefinite or oversized length");
        if (static_cast<std::size_t>(end_ - at_) < octets) throw EDerError("a length is cut short");
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) length = (length << 8) | *at_++;
    }
    if (length > static_cast<std::size_t>(end_ - at_))
        throw EDerError("an element runs past its container");
    element.Value = at_;
    element.ValueSize = length;
    at_ += length;
    element.Size = static_cast<std::size_t>(at_ - element.Start);
    return element;
}

TDerElement TDerReader::Expect(std::uint8_t tag) {
    if (PeekTag() != tag) throw EDerError("an element of another type than expected");
    return Next();
}

bool TDerReader::Optional(std::uint8_t tag, TDerElement& element) {
    if (AtEnd() || *at_ != tag) return false;
    element = Next();
    return true;
}

std::string OidText(const TDerElement& oid) {
    if (oid.Tag != kDerOid || oid.ValueSize == 0) throw EDerError("no object identifier");
    std::string text;
    std::uint64_t arc = 0;
    bool first = true;
    for (std::size_t i = 0; i < oid.ValueSize; ++i) {
        if (arc > (UINT64_MAX >> 7)) throw EDerError("an object identifier's arc is too large");
        arc = (arc << 7) | (oid.Value[i] & 0x7F);
        if (oid.Value[i] & 0x80) continue;
        if (first) {
            const std::uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
    }
    if (oid.Value[oid.ValueSize - 1] & 0x80) throw EDerError("an object identifier is cut short");
    return text;
}

std::int64_t DerTimeSeconds(const TDerElement& time) {
    const std::uint8_t* t = time.Value;
    std::size_t size = time.ValueSize;
    int year = 0;
    if (time.Tag == kDerUtcTime && size >= 13) {
        year = Digits(t, 2);
        year += year < 50 ? 2000 : 1900;
        t += 2;
        size -= 2;
    } else if (time.Tag == kDerGeneralizedTime && size >= 15) {
        year = Digits(t, 4);
        t += 4;
        size -= 4;
    } else {
        throw EDerError("no time");
    }
    const int month = Digits(t, 2), day = Digits(t + 2, 2);
    const int hour = Digits(t + 4, 2), minute = Digits(t + 6, 2), second = Digits(t + 8, 2);
    // Fractions of a second (timestamps may carry them) are dropped; only UTC counts.
    std::size_t rest = 10;
    if (rest < size && t[rest] == '.') {
        ++rest;
        while (rest < size && t[rest] >= '0' && t[rest] <= '9') ++rest;
    }
    if (rest + 1 != size || t[rest] != 'Z') throw EDerError("a time not in UTC");
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        throw EDerError("a time out of range");
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}
