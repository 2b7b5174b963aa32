#pragma once
// What the signature checks read from an X.509 certificate (DER): the names,
// the public key and the extended key usage. Reading only; whether the
// certificate is trusted is the signature engine's question.

#include "host/SignatureEngine.h"

#include <string>
#include <vector>

constexpr const char* kCodeSigningUsage = "1.3.6.1.5.5.7.3.3";
constexpr const char* kTimeStampingUsage = "1.3.6.1.5.5.7.3.8";

struct TCertificateFacts {
    TSignatureBytes Subject;       // DER of the subject's name
    TSignatureBytes Issuer;        // DER of the issuer's name
    TSignatureBytes PublicKeyInfo; // DER of the SubjectPublicKeyInfo
    bool CertificateAuthority = false; // basicConstraints says cA
    bool HasExtendedKeyUsage = false;
    std::vector<std::string> ExtendedKeyUsages;

    // No extended key usage allows every usage; otherwise it must be listed.
    bool Allows(const std::string& usage) const;
};

// Raises EDerError for bytes that are no certificate.
TCertificateFacts ReadCertificate(const TSignatureBytes& certificate);

// The SHA-256 of the certificate's SubjectPublicKeyInfo in lower-case hex:
// the form in which a publisher's key is pinned.
std::string PublicKeyPin(const TCertificateFacts& certificate);
