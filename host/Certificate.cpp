#include "host/Certificate.h"

#include "host/DerReader.h"

#include <algorithm>

namespace {

const char* const kExtendedKeyUsage = "2.5.29.37";
const char* const kBasicConstraints = "2.5.29.19";
const char* const kSha256 = "2.16.840.1.101.3.4.2.1";

void ReadExtensions(const TDerElement& extensions, TCertificateFacts& facts) {
    TDerReader list(TDerReader(extensions).Expect(kDerSequence));
    while (!list.AtEnd()) {
        TDerReader extension(list.Expect(kDerSequence));
        const std::string id = OidText(extension.Expect(kDerOid));
        TDerElement critical;
        extension.Optional(0x01, critical);
        const TDerElement value = extension.Expect(kDerOctetString);
        if (id == kBasicConstraints) {
            TDerReader constraints(TDerReader(value.Value, value.ValueSize).Expect(kDerSequence));
            TDerElement flag;
            facts.CertificateAuthority = constraints.Optional(0x01, flag) && flag.ValueSize == 1 && flag.Value[0] != 0;
        }
        if (id != kExtendedKeyUsage) continue;
        facts.HasExtendedKeyUsage = true;
        TDerReader usages(TDerReader(value.Value, value.ValueSize).Expect(kDerSequence));
        while (!usages.AtEnd()) facts.ExtendedKeyUsages.push_back(OidText(usages.Expect(kDerOid)));
    }
}

} // namespace

bool TCertificateFacts::Allows(const std::string& usage) const {
    return !HasExtendedKeyUsage ||
           std::find(ExtendedKeyUsages.begin(), ExtendedKeyUsages.end(), usage) != ExtendedKeyUsages.end();
}

TCertificateFacts ReadCertificate(const TSignatureBytes& certificate) {
    TDerReader outer(certificate.data(), certificate.size());
    TDerReader tbs(TDerReader(outer.Expect(kDerSequence)).Expect(kDerSequence));
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
