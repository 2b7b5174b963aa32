// Program signatures over the system's CryptoAPI: CryptMsg decodes the
// signed message and checks the signer's signature, the hash provider makes
// the digests, and the chain engine builds chains from the system's stores
// without network retrieval. Wine's checks are partial, so the decisions
// themselves (messageDigest, times, each link's signature and CA flag, the
// root being one the system trusts) are this code's.

#include "host/SignatureEngine.h"

#include "host/Certificate.h"
#include "host/DerReader.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kDigestFailed = "the system's digest failed";

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct TProviderHeld {
    HCRYPTPROV handle = 0;
    TProviderHeld() {
        if (!::CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
            throw ESignatureEngineError("the system's hash provider is not available");
    }
    ~TProviderHeld() { ::CryptReleaseContext(handle, 0); }
    TProviderHeld(const TProviderHeld&) = delete;
    TProviderHeld& operator=(const TProviderHeld&) = delete;
};

ALG_ID AcceptedHash(const std::string& oid) {
    if (oid == "2.16.840.1.101.3.4.2.1") return CALG_SHA_256;
    if (oid == "2.16.840.1.101.3.4.2.2") return CALG_SHA_384;
    if (oid == "2.16.840.1.101.3.4.2.3") return CALG_SHA_512;
    return 0;
}

class TCryptoAPIDigest : public TImageDigest {
public:
    explicit TCryptoAPIDigest(ALG_ID algorithm) {
        if (!::CryptCreateHash(provider_.handle, algorithm, 0, 0, &hash_))
            throw ESignatureEngineError("the system cannot make a digest");
    }
    ~TCryptoAPIDigest() override { ::CryptDestroyHash(hash_); }
    void Update(const std::uint8_t* bytes, std::size_t count) override {
        while (count > 0) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
            if (!::CryptHashData(hash_, bytes, piece, 0))
                throw ESignatureEngineError(kDigestFailed);
            bytes += piece;
            count -= piece;
        }
    }
    TSignatureBytes Final() override {
        DWORD size = 0, sizeSize = sizeof size;
        TSignatureBytes digest;
        if (::CryptGetHashParam(hash_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeSize, 0))
            digest.resize(size);
        if (digest.empty() || !::CryptGetHashParam(hash_, HP_HASHVAL, digest.data(), &size, 0))
            throw ESignatureEngineError(kDigestFailed);
        digest.resize(size);
        return digest;
    }

private:
    TProviderHeld provider_;
    HCRYPTHASH hash_ = 0;
};

struct TMessageHeld {
    HCRYPTMSG handle;
    ~TMessageHeld() {
        if (handle) ::CryptMsgClose(handle);
    }
};
struct TStoreHeld {
    HCERTSTORE handle;
    ~TStoreHeld() {
        if (handle) ::CertCloseStore(handle, 0);
    }
};
struct TCertificateHeld {
    PCCERT_CONTEXT context;
    ~TCertificateHeld() {
        if (context) ::CertFreeCertificateContext(context);
    }
};

// A parameter of the message, in a buffer of its own size.
std::vector<std::uint8_t> MessageParam(HCRYPTMSG message, DWORD type) {
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, type, 0, nullptr, &size)) return {};
    std::vector<std::uint8_t> value(size);
    if (!::CryptMsgGetParam(message, type, 0, value.data(), &size)) return {};
    value.resize(size);
    return value;
}

DWORD MessageNumber(HCRYPTMSG message, DWORD type) {
    DWORD value = 0, size = sizeof value;
    return ::CryptMsgGetParam(message, type, 0, &value, &size) ? value : 0;
}

const CRYPT_ATTRIBUTE* Attribute(const CRYPT_ATTRIBUTES& attributes, const char* oid) {
    for (DWORD i = 0; i < attributes.cAttr; ++i)
        if (std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0 && attributes.rgAttr[i].cValue > 0)
            return &attributes.rgAttr[i];
    return nullptr;
}

TSignatureBytes BlobBytes(const CRYPT_DATA_BLOB& blob) {
    return {blob.pbData, blob.pbData + blob.cbData};
}

// The messageDigest signed attribute against the digest of the content.
bool MessageDigestHolds(const CMSG_SIGNER_INFO& signer, const std::uint8_t* content,
                        std::size_t size) {
    const CRYPT_ATTRIBUTE* claimed = Attribute(signer.AuthAttrs, szOID_PKCS_9_MESSAGE_DIGEST);
    const ALG_ID algorithm =
        AcceptedHash(signer.HashAlgorithm.pszObjId ? signer.HashAlgorithm.pszObjId : "");
    if (claimed == nullptr || algorithm == 0) return false;
    try {
        const TDerElement octets =
            TDerReader(claimed->rgValue[0].pbData, claimed->rgValue[0].cbData)
                .Expect(kDerOctetString);
        TCryptoAPIDigest digest(algorithm);
        digest.Update(content, size);
        return digest.Final() == octets.Bytes();
    } catch (const EDerError&) {
        return false;
    }
}

// FILETIME counts 100 ns from 1601; seconds must not lie before that.
FILETIME FileTimeOf(std::int64_t seconds) {
    const ULONGLONG ticks = static_cast<ULONGLONG>(seconds + 11644473600LL) * 10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// Each certificate signed by the next one's key, and that one a CA: whatever
// the chain engine matched by name alone.
bool LinksHold(const CERT_SIMPLE_CHAIN& chain) {
    for (DWORD i = 0; i + 1 < chain.cElement; ++i) {
        const PCCERT_CONTEXT subject = chain.rgpElement[i]->pCertContext;
        const PCCERT_CONTEXT issuer = chain.rgpElement[i + 1]->pCertContext;
        if (!::CryptVerifyCertificateSignatureEx(
                0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                const_cast<CERT_CONTEXT*>(issuer), 0, nullptr))
            return false;
        try {
            if (!ReadCertificate(
                     {issuer->pbCertEncoded, issuer->pbCertEncoded + issuer->cbCertEncoded})
                     .CertificateAuthority)
                return false;
        } catch (const EDerError&) {
            return false;
        }
    }
    return true;
}

bool SameBytes(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
    return a->cbCertEncoded == b->cbCertEncoded &&
           std::equal(a->pbCertEncoded, a->pbCertEncoded + a->cbCertEncoded, b->pbCertEncoded);
}

// The root is one of the system's trusted roots, byte for byte.
bool InRootStore(PCCERT_CONTEXT root) {
    for (const DWORD location : {CERT_SYSTEM_STORE_LOCAL_MACHINE, CERT_SYSTEM_STORE_CURRENT_USER}) {
        const TStoreHeld store{::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                               location | CERT_STORE_READONLY_FLAG, L"ROOT")};
        if (!store.handle) continue;
        const TCertificateHeld found{::CertFindCertificateInStore(
            store.handle, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr)};
        if (found.context && SameBytes(found.context, root)) return true;
    }
    return false;
}

} // namespace

std::unique_ptr<TImageDigest> CreateImageDigest(const std::string& algorithmOid) {
    const ALG_ID algorithm = AcceptedHash(algorithmOid);
    return algorithm ? std::make_unique<TCryptoAPIDigest>(algorithm) : nullptr;
}

TSignerCheck CheckSignedData(const TSignatureBytes& message, const std::uint8_t* content,
                             std::size_t size) {
    const TMessageHeld decoded{::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr)};
    if (!decoded.handle) throw ESignatureEngineError("the system cannot decode a signed message");
    if (!::CryptMsgUpdate(decoded.handle, message.data(), static_cast<DWORD>(message.size()),
                          TRUE) ||
        MessageNumber(decoded.handle, CMSG_TYPE_PARAM) != CMSG_SIGNED)
        throw ESignatureFormatError(kSignatureNoSignedData);
    if (MessageNumber(decoded.handle, CMSG_SIGNER_COUNT_PARAM) != 1)
        throw ESignatureFormatError(kSignatureNotOneSigner);
    const std::vector<std::uint8_t> signerInfo =
        MessageParam(decoded.handle, CMSG_SIGNER_INFO_PARAM);
    const std::vector<std::uint8_t> certInfo =
        MessageParam(decoded.handle, CMSG_SIGNER_CERT_INFO_PARAM);
    const TStoreHeld carried{::CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, decoded.handle)};
    if (signerInfo.empty() || certInfo.empty() || !carried.handle)
        throw ESignatureFormatError("no signer");
    const TCertificateHeld certificate{::CertGetSubjectCertificateFromStore(
        carried.handle, kEncoding,
        reinterpret_cast<PCERT_INFO>(const_cast<std::uint8_t*>(certInfo.data())))};
    if (!certificate.context) throw ESignatureFormatError(kSignatureCertificateMissing);
    const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());

    TSignerCheck check;
    check.Signer.assign(certificate.context->pbCertEncoded,
                        certificate.context->pbCertEncoded + certificate.context->cbCertEncoded);
    for (PCCERT_CONTEXT each = nullptr;
         (each = ::CertEnumCertificatesInStore(carried.handle, each)) != nullptr;)
        check.Certificates.emplace_back(each->pbCertEncoded,
                                        each->pbCertEncoded + each->cbCertEncoded);
    // An OCTET STRING in the message, kept in its order (unlike integers).
    check.SignatureValue = BlobBytes(signer.EncryptedHash);
    if (const CRYPT_ATTRIBUTE* token = Attribute(signer.UnauthAttrs, szOID_RFC3161_counterSign))
        check.TimestampToken = BlobBytes(token->rgValue[0]);
    check.SignatureValid = signer.AuthAttrs.cAttr > 0 &&
                           MessageDigestHolds(signer, content, size) &&
                           ::CryptMsgControl(decoded.handle, 0, CMSG_CTRL_VERIFY_SIGNATURE,
                                             certificate.context->pCertInfo);
    return check;
}

std::string NameText(const TSignatureBytes& name) {
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
    const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD size = ::CertNameToStrA(X509_ASN_ENCODING, &blob, flags, nullptr, 0);
    if (size <= 1) return {};
    std::string text(size, '\0');
    ::CertNameToStrA(X509_ASN_ENCODING, &blob, flags, text.data(), size);
    text.resize(size - 1);
    return text;
}

bool ChainsToTrustedRoot(const TSignatureBytes& certificate,
                         const std::vector<TSignatureBytes>& others, std::int64_t at,
                         TChainPurpose purpose) {
    if (at < -11644473600LL) return false;
    const TCertificateHeld leaf{::CertCreateCertificateContext(
        X509_ASN_ENCODING, certificate.data(), static_cast<DWORD>(certificate.size()))};
    const TStoreHeld extra{::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)};
    if (!leaf.context || !extra.handle) return false;
    for (const TSignatureBytes& other : others)
        ::CertAddEncodedCertificateToStore(extra.handle, X509_ASN_ENCODING, other.data(),
                                           static_cast<DWORD>(other.size()), CERT_STORE_ADD_ALWAYS,
                                           nullptr);
    LPSTR usage[] = {const_cast<LPSTR>(purpose == TChainPurpose::cpCodeSigning
                                           ? szOID_PKIX_KP_CODE_SIGNING
                                           : szOID_PKIX_KP_TIMESTAMP_SIGNING)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    FILETIME time = FileTimeOf(at);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    // Issuers come from the stores and the signature only: the elevated
    // updater fetches nothing from addresses a certificate names.
    const DWORD flags =
        CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;
    if (!::CertGetCertificateChain(nullptr, leaf.context, &time, extra.handle, &parameters, flags,
                                   nullptr, &chain) ||
        chain == nullptr)
        return false;
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&::CertFreeCertificateChain)> held(
        chain, ::CertFreeCertificateChain);
    const DWORD unchecked = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    if ((chain->TrustStatus.dwErrorStatus & ~unchecked) != 0 || chain->cChain != 1) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i)
        if (::CertVerifyTimeValidity(&time, simple->rgpElement[i]->pCertContext->pCertInfo) != 0)
            return false;
    return simple->cElement > 0 && LinksHold(*simple) &&
           InRootStore(simple->rgpElement[simple->cElement - 1]->pCertContext);
}
