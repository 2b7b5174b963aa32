#include "host/Certificate.h"

#include "host/DerReader.h"

#include <algorithm>

namespace {

const char* const kExtendedKeyUsage = "2.5.29.37";
const char* const kBasicConstraints = "2.5.29.19";
const char* const kKeyUsage = "2.5.29.15";
const char* const kSubjectAltName = "2.5.29.17";
const char* const kSha256 = "2.16.840.1.101.3.4.2.1";

constexpr std::uint8_t kDerBoolean = 0x01;
constexpr std::uint8_t kDnsName = 0x82;   // [2] IA5String
constexpr std::uint8_t kIPAddress = 0x87; // [7] OCTET STRING

// A small non-negative INTEGER; larger or negative ones read as -1.
int SmallInteger(const TDerElement& integer) {
    if (integer.ValueSize == 0 || integer.ValueSize > 2 || (integer.Value[0] & 0x80)) return -1;
    int value = 0;
    for (std::size_t i = 0; i < integer.ValueSize; ++i) value = value * 256 + integer.Value[i];
    return value;
}

// The bits of a BIT STRING after its count of unused bits.
TDerElement BitStringContent(const TDerElement& bits) {
    if (bits.ValueSize == 0) throw EDerError("a bit string without its first byte");
    TDerElement content = bits;
    content.Value = bits.Value + 1;
    content.ValueSize = bits.ValueSize - 1;
    return content;
}

void ReadBasicConstraints(TDerReader& value, TCertificateFacts& facts) {
    TDerReader constraints(value.Expect(kDerSequence));
    TDerElement element;
    facts.CertificateAuthority = constraints.Optional(kDerBoolean, element) &&
                                 element.ValueSize == 1 && element.Value[0] != 0;
    if (constraints.Optional(kDerInteger, element)) facts.PathLength = SmallInteger(element);
}

void ReadAlternativeNames(TDerReader& value, TCertificateFacts& facts) {
    TDerReader names(value.Expect(kDerSequence));
    while (!names.AtEnd()) {
        const TDerElement name = names.Next();
        if (name.Tag == kDnsName)
            facts.DnsNames.emplace_back(name.Value, name.Value + name.ValueSize);
        if (name.Tag == kIPAddress) facts.IPAddresses.push_back(name.Bytes());
    }
}

void ReadExtensions(const TDerElement& extensions, TCertificateFacts& facts) {
    TDerReader list(TDerReader(extensions).Expect(kDerSequence));
    while (!list.AtEnd()) {
        TDerReader extension(list.Expect(kDerSequence));
        const std::string id = OidText(extension.Expect(kDerOid));
        TDerElement critical;
        extension.Optional(kDerBoolean, critical);
        TDerReader inner(extension.Expect(kDerOctetString));
        if (id == kBasicConstraints) ReadBasicConstraints(inner, facts);
        if (id == kSubjectAltName) ReadAlternativeNames(inner, facts);
        if (id == kKeyUsage) {
            const TDerElement bits = BitStringContent(inner.Expect(kDerBitString));
            facts.HasKeyUsage = true;
            facts.KeyUsage = bits.ValueSize > 0 ? bits.Value[0] : 0;
        }
        if (id != kExtendedKeyUsage) continue;
        facts.HasExtendedKeyUsage = true;
        TDerReader usages(inner.Expect(kDerSequence));
        while (!usages.AtEnd()) facts.ExtendedKeyUsages.push_back(OidText(usages.Expect(kDerOid)));
    }
}

int CurveBits(const std::string& curve) {
    static const struct {
        const char* oid;
        int bits;
    } curves[] = {{"1.2.840.10045.3.1.1", 192},
                  {"1.3.132.0.33", 224},
                  {"1.2.840.10045.3.1.7", 256},
                  {"1.3.132.0.34", 384},
                  {"1.3.132.0.35", 521}};
    for (const auto& known : curves)
        if (curve == known.oid) return known.bits;
    return 0;
}

// The size of an RSA modulus or a named curve; 0 for other keys.
int KeyBits(TCertificateFacts& facts) {
    TDerReader info(
        TDerReader(facts.PublicKeyInfo.data(), facts.PublicKeyInfo.size()).Expect(kDerSequence));
    TDerReader algorithm(info.Expect(kDerSequence));
    const std::string& kind = facts.KeyAlgorithm = OidText(algorithm.Expect(kDerOid));
    if (kind == kEcKey)
        return !algorithm.AtEnd() && algorithm.PeekTag() == kDerOid
                   ? CurveBits(OidText(algorithm.Next()))
                   : 0;
    if (kind != kRsaKey && kind != kRsaPssKey) return 0;
    const TDerElement key = BitStringContent(info.Expect(kDerBitString));
    TDerReader numbers(TDerReader(key.Value, key.ValueSize).Expect(kDerSequence));
    const TDerElement modulus = numbers.Expect(kDerInteger);
    std::size_t first = 0;
    while (first < modulus.ValueSize && modulus.Value[first] == 0) ++first;
    if (first == modulus.ValueSize) return 0;
    int bits = static_cast<int>(modulus.ValueSize - first - 1) * 8;
    for (unsigned top = modulus.Value[first]; top != 0; top >>= 1) ++bits;
    return bits;
}

} // namespace

bool TCertificateFacts::Allows(const std::string& usage) const {
    return !HasExtendedKeyUsage || std::find(ExtendedKeyUsages.begin(), ExtendedKeyUsages.end(),
                                             usage) != ExtendedKeyUsages.end();
}

TCertificateFacts ReadCertificate(const TSignatureBytes& certificate) {
    TDerReader outer(certificate.data(), certificate.size());
    TDerReader whole(outer.Expect(kDerSequence));
    TDerReader tbs(whole.Expect(kDerSequence));
    TDerElement skipped;
    tbs.Optional(DerContext(0), skipped); // version
    tbs.Expect(kDerInteger);              // serial number
    tbs.Expect(kDerSequence);             // signature algorithm
    TCertificateFacts facts;
    facts.Issuer = tbs.Expect(kDerSequence).Encoding();
    tbs.Expect(kDerSequence); // validity
    facts.Subject = tbs.Expect(kDerSequence).Encoding();
    facts.PublicKeyInfo = tbs.Expect(kDerSequence).Encoding();
    tbs.Optional(0x81, skipped); // issuer unique id
    tbs.Optional(0x82, skipped); // subject unique id
    TDerElement extensions;
    if (tbs.Optional(DerContext(3), extensions)) ReadExtensions(extensions, facts);
    facts.SignatureAlgorithm = OidText(TDerReader(whole.Expect(kDerSequence)).Expect(kDerOid));
    facts.KeyBits = KeyBits(facts);
    return facts;
}

std::string PublicKeyPin(const TCertificateFacts& certificate) {
    auto digest = CreateImageDigest(kSha256);
    digest->Update(certificate.PublicKeyInfo.data(), certificate.PublicKeyInfo.size());
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : digest->Final()) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}
