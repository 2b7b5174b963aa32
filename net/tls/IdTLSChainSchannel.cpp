#include "net/tls/IdTLSChainSchannel.h"

#include "host/windows/WideText.h"
#include "net/IdExceptionCore.h"
#include "net/IdTLSEngine.h"

#include <schannel.h>
#include <wininet.h> // the SECURITY_FLAG_IGNORE_* checks of the SSL policy

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

using TChainHeld = std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&::CertFreeCertificateChain)>;

// Only what the server sent and the local stores: no issuer fetched from an
// address a certificate names, no root downloaded from the system's update.
constexpr DWORD kChainFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA |
                              CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;

// The chain engine's error bits in the words both platforms use; the first
// that is set names the refusal.
const struct {
    DWORD bits;
    const char* words;
} kChainErrors[] = {
    {CERT_TRUST_IS_REVOKED, TLSCheck::Revoked},
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TLSCheck::BadSignature},
    {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, TLSCheck::BasicConstraints},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, TLSCheck::NotForThisUse},
    {CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
         CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
         CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT,
     TLSCheck::NameConstraint},
    {CERT_TRUST_HAS_WEAK_SIGNATURE, TLSCheck::WeakSignature},
    {CERT_TRUST_IS_EXPLICIT_DISTRUST, "explicitly distrusted"},
    {CERT_TRUST_IS_CYCLIC, "cyclic chain"},
    {CERT_TRUST_INVALID_EXTENSION, "invalid extension"},
    {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, "unsupported critical extension"},
    {CERT_TRUST_INVALID_POLICY_CONSTRAINTS | CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY,
     "invalid policy constraints"},
    {CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION,
     "revocation status unknown"},
    {CERT_TRUST_CTL_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID |
         CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE,
     "invalid certificate trust list"},
    {CERT_TRUST_IS_NOT_TIME_NESTED, "validity periods not nested"},
};

std::string ChainErrorWords(DWORD errors) {
    for (const auto& error : kChainErrors)
        if (errors & error.bits) return error.words;
    return "the chain does not verify (status " + std::to_string(errors) + ")";
}

std::string TimeCheck(PCCERT_CONTEXT server) {
    return ::CertVerifyTimeValidity(nullptr, server->pCertInfo) < 0 ? "not yet valid" : "expired";
}

// The chain's root is one of anchors, byte for byte: not just the same issuer
// and serial number, which a root of someone else's key may copy.
bool AnchoredIn(HCERTSTORE anchors, PCCERT_CHAIN_CONTEXT chain) {
    if (!anchors || chain->cChain == 0) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    for (PCCERT_CONTEXT anchor = nullptr;
         (anchor = ::CertEnumCertificatesInStore(anchors, anchor)) != nullptr;) {
        if (anchor->cbCertEncoded == root->cbCertEncoded &&
            std::equal(root->pbCertEncoded, root->pbCertEncoded + root->cbCertEncoded,
                       anchor->pbCertEncoded)) {
            ::CertFreeCertificateContext(anchor);
            return true;
        }
    }
    return false;
}

std::vector<TIdBytes> ChainCertificates(PCCERT_CHAIN_CONTEXT chain) {
    std::vector<TIdBytes> certificates;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i) {
        const PCCERT_CONTEXT certificate = simple->rgpElement[i]->pCertContext;
        certificates.emplace_back(certificate->pbCertEncoded,
                                  certificate->pbCertEncoded + certificate->cbCertEncoded);
    }
    return certificates;
}

// The system's SSL policy over a chain that passed everything else. The name
// is ours to check: the policy would take a subject's common name.
std::string PolicyCheck(PCCERT_CHAIN_CONTEXT chain, bool anchored, PCCERT_CONTEXT server) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks =
        (anchored ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0) | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        return "the system's check could not run";
    switch (status.dwError) {
    case 0:
        return {};
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return TimeCheck(server);
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return TLSCheck::UnknownIssuer;
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return TLSCheck::NotForThisUse;
    default:
        return "the system's SSL policy refuses it (error " + std::to_string(status.dwError) + ")";
    }
}

} // namespace

HCERTSTORE ReadTrustAnchors(const std::string& fileName) {
    std::ifstream in(std::filesystem::path(Utf8ToWide(fileName)), std::ios::binary);
    const std::string pem(std::istreambuf_iterator<char>(in), {});
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    int added = 0;
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    for (std::size_t at = pem.find(begin); store && at != std::string::npos;
         at = pem.find(begin, at + 1)) {
        const std::size_t stop = pem.find(end, at);
        if (stop == std::string::npos) break;
        const std::string block = pem.substr(at, stop + end.size() - at);
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                    CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
            continue;
        TIdBytes der(size);
        if (::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                   CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                   nullptr) &&
            ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                               CERT_STORE_ADD_ALWAYS, nullptr))
            ++added;
    }
    if (added == 0) {
        if (store) ::CertCloseStore(store, 0);
        throw EIdTLSError("The CA certificates in " + fileName +
                          " cannot be read: no certificate.");
    }
    return store;
}

std::string ServerCertificateProblem(PCCERT_CONTEXT server, HCERTSTORE anchors,
                                     const TIdTLSPeer& peer) {
    HCERTSTORE others = ::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    const auto closeStore = [](HCERTSTORE store) { ::CertCloseStore(store, 0); };
    const std::unique_ptr<void, decltype(closeStore)> othersHeld(others, closeStore);
    if (others && server->hCertStore) ::CertAddStoreToCollection(others, server->hCertStore, 0, 0);
    if (others && anchors) ::CertAddStoreToCollection(others, anchors, 0, 0);
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const BOOL built = ::CertGetCertificateChain(nullptr, server, nullptr, others, &parameters,
                                                 kChainFlags, nullptr, &chain);
    const TChainHeld chainHeld(chain, ::CertFreeCertificateChain);
    if (!built || !chain || chain->cChain == 0) return "no chain could be built";
    DWORD errors = chain->TrustStatus.dwErrorStatus;
    const bool anchored = (errors & CERT_TRUST_IS_UNTRUSTED_ROOT) && AnchoredIn(anchors, chain);
    if (anchored) errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    // A chain that ends nowhere trusted says nothing else worth naming.
    if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return TLSCheck::UnknownIssuer;
    std::string problem = TLSChainProblem(ChainCertificates(chain), peer);
    if (!problem.empty()) return problem;
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return TimeCheck(server);
    if (errors) return ChainErrorWords(errors);
    return PolicyCheck(chain, anchored, server);
}

namespace {

// Only RSA key transport (TLS 1.2) leaves the server's key unused for signing.
bool LeafSigns(CtxtHandle& context) {
    SecPkgContext_ConnectionInfo connection{};
    if (::QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK)
        return true;
    return connection.aiExch != CALG_RSA_KEYX || (connection.dwProtocol & SP_PROT_TLS1_3_CLIENT);
}

} // namespace

void VerifyServerCertificate(CtxtHandle& context, HCERTSTORE anchors, const TIdTLSPeer& peer,
                             const std::string& host) {
    const auto reject = [&](const std::string& check) {
        throw EIdTLSCertificateError(CertificateRejected(host, check));
    };
    PCCERT_CONTEXT server = nullptr;
    const SECURITY_STATUS sent =
        ::QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server);
    if (sent != SEC_E_OK || !server) reject("the server sent no certificate");
    using TCertificateHeld =
        std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)>;
    const TCertificateHeld serverHeld(server, ::CertFreeCertificateContext);
    TIdTLSPeer expected = peer;
    expected.LeafSigns = LeafSigns(context);
    const std::string problem = ServerCertificateProblem(server, anchors, expected);
    if (!problem.empty()) reject(problem);
}

std::string NameText(const CERT_NAME_BLOB& name) {
    CERT_NAME_BLOB copy = name;
    const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD size = ::CertNameToStrW(X509_ASN_ENCODING, &copy, flags, nullptr, 0);
    std::wstring text(size, L'\0');
    ::CertNameToStrW(X509_ASN_ENCODING, &copy, flags, text.data(), size);
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return WideToUtf8(text);
}
