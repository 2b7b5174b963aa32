#pragma once
// What the signature and server checks read from an X.509 certificate (DER):
// the names, the public key, the constraints and the usages. Reading only;
// whether the certificate is trusted is the engines' question.

#include "host/SignatureEngine.h"

#include <string>
#include <vector>

constexpr const char* kCodeSigningUsage = "1.3.6.1.5.5.7.3.3";
constexpr const char* kTimeStampingUsage = "1.3.6.1.5.5.7.3.8";
constexpr const char* kServerAuthUsage = "1.3.6.1.5.5.7.3.1";
constexpr const char* kAnyUsage = "2.5.29.37.0";
constexpr const char* kRsaKey = "1.2.840.113549.1.1.1";
constexpr const char* kRsaPssKey = "1.2.840.113549.1.1.10";
constexpr const char* kEcKey = "1.2.840.10045.2.1";
// The first bit of keyUsage.
constexpr unsigned kDigitalSignatureUsage = 0x80;

struct TCertificateFacts {
    TSignatureBytes Subject;           // DER of the subject's name
    TSignatureBytes Issuer;            // DER of the issuer's name
    TSignatureBytes PublicKeyInfo;     // DER of the SubjectPublicKeyInfo
    bool CertificateAuthority = false; // basicConstraints says cA
    int PathLength = -1;               // basicConstraints' pathLenConstraint, -1 for none
    bool HasExtendedKeyUsage = false;
    std::vector<std::string> ExtendedKeyUsages;
    bool HasKeyUsage = false;
    unsigned KeyUsage = 0;          // the first eight bits, digitalSignature the highest
    std::string SignatureAlgorithm; // the issuer's signature, as an OID
    std::string KeyAlgorithm;       // the SubjectPublicKeyInfo's, as an OID
    // RSA and the named prime curves: the modulus's or the curve's size in
    // bits; 0 for a key of another kind.
    int KeyBits = 0;
    // The subject alternative names of the kinds a server is known by.
    std::vector<std::string> DnsNames;
    std::vector<TSignatureBytes> IPAddresses;

    // No extended key usage allows every usage; otherwise it must be listed.
    bool Allows(const std::string& usage) const;
};

// Raises EDerError for bytes that are no certificate.
TCertificateFacts ReadCertificate(const TSignatureBytes& certificate);

// The SHA-256 of the certificate's SubjectPublicKeyInfo in lower-case hex:
// the form in which a publisher's key is pinned.
std::string PublicKeyPin(const TCertificateFacts& certificate);
