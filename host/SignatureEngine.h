#pragma once
// The seam to the platform's cryptography for the signatures that Windows
// programs carry: digests, a signed message's signer signature, and the chain
// of a certificate to the system's trusted roots. One engine file per platform
// (OpenSSL 3 on Linux, CryptoAPI on Windows); everything that only reads
// structure stays portable, so both platforms reach the same verdicts.

#include "host/Exception.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TSignatureBytes = std::vector<std::uint8_t>;

// Bytes that are no signed message of the expected shape.
VYK_DECLARE_EXCEPTION(ESignatureFormatError, Exception);
// The shapes both engines refuse in the same words.
constexpr const char* kSignatureNoSignedData = "no PKCS#7 SignedData";
constexpr const char* kSignatureNotOneSigner = "not exactly one signer";
constexpr const char* kSignatureCertificateMissing =
    "the signer's certificate is not in the signature";
// The platform's cryptography itself failed (no provider, a hash that cannot
// be made): no verdict on the file, so the caller's operation fails.
VYK_DECLARE_EXCEPTION(ESignatureEngineError, Exception);

class TImageDigest {
public:
    virtual ~TImageDigest() = default;
    virtual void Update(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual TSignatureBytes Final() = 0;
};

// SHA-256, SHA-384 or SHA-512 by its object identifier; nullptr for any other
// algorithm (MD5 and SHA-1 are not accepted, for a program's digest nor for
// a signer's).
std::unique_ptr<TImageDigest> CreateImageDigest(const std::string& algorithmOid);

struct TSignerCheck {
    TSignatureBytes Signer;                    // the signer's certificate (DER)
    std::vector<TSignatureBytes> Certificates; // every certificate the message carries
    // The messageDigest signed attribute equals the digest of the content's
    // value octets, and the signer's signature over its signed attributes
    // verifies with the key of Signer. A message without signed attributes
    // never counts as valid.
    bool SignatureValid = false;
    TSignatureBytes SignatureValue; // the signer's signature: what a timestamp covers
    TSignatureBytes
        TimestampToken; // an RFC 3161 token among the unsigned attributes (DER), or empty
};

// Checks the one signer of a PKCS#7 SignedData whose encapsulated content has
// the given value octets. Raises ESignatureFormatError for bytes that are no
// SignedData with exactly one signer whose certificate the message carries.
TSignerCheck CheckSignedData(const TSignatureBytes& message, const std::uint8_t* content,
                             std::size_t size);

// The text of a distinguished name (DER), most significant part last
// ("CN=...,O=..."), for people to read.
std::string NameText(const TSignatureBytes& name);

enum class TChainPurpose { cpCodeSigning, cpTimeStamping };

// True when certificate chains, through others where needed, to a root the
// system trusts, each certificate valid at the time given (seconds since 1970
// UTC), each link's signature verifying and each issuer a CA. No revocation
// check and no network retrieval. The purpose is checked along the chain on
// Windows; OpenSSL 3.0 knows a time-stamping purpose but no code-signing one,
// so there the signer's extended key usage, which the caller checks on both
// platforms, is all that says "code signing".
bool ChainsToTrustedRoot(const TSignatureBytes& certificate,
                         const std::vector<TSignatureBytes>& others, std::int64_t at,
                         TChainPurpose purpose);
