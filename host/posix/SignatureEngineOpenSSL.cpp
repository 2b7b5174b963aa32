// Program signatures over OpenSSL 3. Trust comes from OpenSSL's default
// paths, so SSL_CERT_FILE and SSL_CERT_DIR work as with every OpenSSL program.

#include "host/SignatureEngine.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

constexpr const char* kDigestFailed = "OpenSSL's digest failed";

template <typename T, void (*Free)(T*)> struct TFreer {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)> using TOwned = std::unique_ptr<T, TFreer<T, Free>>;

using TPKCS7 = TOwned<PKCS7, PKCS7_free>;
using TX509 = TOwned<X509, X509_free>;
using TStore = TOwned<X509_STORE, X509_STORE_free>;
using TStoreContext = TOwned<X509_STORE_CTX, X509_STORE_CTX_free>;
using TDigestContext = TOwned<EVP_MD_CTX, EVP_MD_CTX_free>;
using TName = TOwned<X509_NAME, X509_NAME_free>;
using TObject = TOwned<ASN1_OBJECT, ASN1_OBJECT_free>;
using TBio = TOwned<BIO, BIO_free_all>;

void FreeCertificates(STACK_OF(X509) * certificates) {
    sk_X509_pop_free(certificates, X509_free);
}
using TCertificates = TOwned<STACK_OF(X509), FreeCertificates>;

const EVP_MD* AcceptedDigest(const std::string& oid) {
    if (oid == "2.16.840.1.101.3.4.2.1") return EVP_sha256();
    if (oid == "2.16.840.1.101.3.4.2.2") return EVP_sha384();
    if (oid == "2.16.840.1.101.3.4.2.3") return EVP_sha512();
    return nullptr;
}

class TOpenSSLDigest : public TImageDigest {
public:
    explicit TOpenSSLDigest(const EVP_MD* md) : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), md, nullptr) != 1)
            throw ESignatureEngineError("OpenSSL cannot set up a digest");
    }
    void Update(const std::uint8_t* bytes, std::size_t count) override {
        if (EVP_DigestUpdate(context_.get(), bytes, count) != 1)
            throw ESignatureEngineError(kDigestFailed);
    }
    TSignatureBytes Final() override {
        TSignatureBytes digest(EVP_MAX_MD_SIZE);
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(context_.get(), digest.data(), &size) != 1)
            throw ESignatureEngineError(kDigestFailed);
        digest.resize(size);
        return digest;
    }

private:
    TDigestContext context_;
};

TSignatureBytes Encoded(X509* certificate) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    if (size <= 0) return {};
    TSignatureBytes bytes(der, der + size);
    OPENSSL_free(der);
    return bytes;
}

TX509 Decoded(const TSignatureBytes& certificate) {
    const unsigned char* at = certificate.data();
    return TX509(d2i_X509(nullptr, &at, static_cast<long>(certificate.size())));
}

// messageDigest over the content's value octets, then the signature over the
// signed attributes as DER (a SET, in the order they were signed).
bool SignerSignatureHolds(PKCS7_SIGNER_INFO* signer, X509* certificate, const std::uint8_t* content,
                          std::size_t size) {
    if (signer->auth_attr == nullptr || sk_X509_ATTRIBUTE_num(signer->auth_attr) == 0) return false;
    char oid[80] = {};
    OBJ_obj2txt(oid, sizeof oid, signer->digest_alg->algorithm, 1);
    const EVP_MD* md = AcceptedDigest(oid);
    const ASN1_OCTET_STRING* claimed = PKCS7_digest_from_attributes(signer->auth_attr);
    if (md == nullptr || claimed == nullptr) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (EVP_Digest(content, size, digest, &digestSize, md, nullptr) != 1) return false;
    if (static_cast<unsigned int>(claimed->length) != digestSize ||
        CRYPTO_memcmp(claimed->data, digest, digestSize) != 0)
        return false;

    unsigned char* attributes = nullptr;
    const int attributesSize = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signer->auth_attr),
                                             &attributes, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    if (attributesSize <= 0) return false;
    TDigestContext context(EVP_MD_CTX_new());
    const bool holds = context &&
                       EVP_DigestVerifyInit(context.get(), nullptr, md, nullptr,
                                            X509_get0_pubkey(certificate)) == 1 &&
                       EVP_DigestVerify(context.get(), signer->enc_digest->data,
                                        static_cast<std::size_t>(signer->enc_digest->length),
                                        attributes, static_cast<std::size_t>(attributesSize)) == 1;
    OPENSSL_free(attributes);
    return holds;
}

TSignatureBytes TimestampToken(PKCS7_SIGNER_INFO* signer) {
    const TObject rfc3161(OBJ_txt2obj("1.3.6.1.4.1.311.3.3.1", 1));
    const int index = X509at_get_attr_by_OBJ(signer->unauth_attr, rfc3161.get(), -1);
    if (index < 0) return {};
    const ASN1_TYPE* value =
        X509_ATTRIBUTE_get0_type(X509at_get_attr(signer->unauth_attr, index), 0);
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) return {};
    const ASN1_STRING* token = value->value.sequence;
    return {token->data, token->data + token->length};
}

} // namespace

std::unique_ptr<TImageDigest> CreateImageDigest(const std::string& algorithmOid) {
    const EVP_MD* md = AcceptedDigest(algorithmOid);
    return md ? std::make_unique<TOpenSSLDigest>(md) : nullptr;
}

TSignerCheck CheckSignedData(const TSignatureBytes& message, const std::uint8_t* content,
                             std::size_t size) {
    const unsigned char* at = message.data();
    const TPKCS7 p7(d2i_PKCS7(nullptr, &at, static_cast<long>(message.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr)
        throw ESignatureFormatError(kSignatureNoSignedData);
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    if (signers == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) != 1)
        throw ESignatureFormatError(kSignatureNotOneSigner);
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    STACK_OF(X509)* carried = p7->d.sign->cert;
    X509* certificate =
        carried ? X509_find_by_issuer_and_serial(carried, signer->issuer_and_serial->issuer,
                                                 signer->issuer_and_serial->serial)
                : nullptr;
    if (certificate == nullptr) throw ESignatureFormatError(kSignatureCertificateMissing);

    TSignerCheck check;
    check.Signer = Encoded(certificate);
    for (int i = 0; i < sk_X509_num(carried); ++i)
        check.Certificates.push_back(Encoded(sk_X509_value(carried, i)));
    check.SignatureValue.assign(signer->enc_digest->data,
                                signer->enc_digest->data + signer->enc_digest->length);
    check.TimestampToken = TimestampToken(signer);
    check.SignatureValid = SignerSignatureHolds(signer, certificate, content, size);
    return check;
}

std::string NameText(const TSignatureBytes& name) {
    const unsigned char* at = name.data();
    const TName decoded(d2i_X509_NAME(nullptr, &at, static_cast<long>(name.size())));
    if (!decoded) return {};
    const TBio out(BIO_new(BIO_s_mem()));
    if (!out) throw ESignatureEngineError("OpenSSL cannot print a name");
    X509_NAME_print_ex(out.get(), decoded.get(), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

bool ChainsToTrustedRoot(const TSignatureBytes& certificate,
                         const std::vector<TSignatureBytes>& others, std::int64_t at,
                         TChainPurpose purpose) {
    const TX509 leaf = Decoded(certificate);
    const TStore store(X509_STORE_new());
    const TCertificates untrusted(sk_X509_new_null());
    const TStoreContext context(X509_STORE_CTX_new());
    if (!leaf || !store || !untrusted || !context || X509_STORE_set_default_paths(store.get()) != 1)
        return false;
    for (const TSignatureBytes& other : others) {
        if (X509* decoded = Decoded(other).release();
            decoded && !sk_X509_push(untrusted.get(), decoded))
            X509_free(decoded);
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1)
        return false;
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), static_cast<time_t>(at));
    // OpenSSL 3.0 has no code-signing purpose, and Debian's roots carry no
    // per-purpose trust: the signer's usage is checked by the caller.
    if (purpose == TChainPurpose::cpTimeStamping &&
        X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_TIMESTAMP_SIGN) != 1)
        return false;
    return X509_verify_cert(context.get()) == 1;
}
