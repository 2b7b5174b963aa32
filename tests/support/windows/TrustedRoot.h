#pragma once
// A CA in the Wine prefix's root store. The test programs that use it hold
// the ctest resource lock wine_root_store, so that no program that expects the
// CA untrusted runs meanwhile.

#include "host/windows/WideText.h"

#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyktest {

// The test CA in the prefix's root store for as long as the object lives, as
// an administrator would add a vendor's CA. Wine's root store also holds the
// host's trusted CAs.
class TrustedRoot {
public:
    explicit TrustedRoot(const std::string& pemFile) {
        std::ifstream in(std::filesystem::path(Utf8ToWide(pemFile)), std::ios::binary);
        const std::string pem(std::istreambuf_iterator<char>(in), {});
        DWORD size = 0;
        ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                               CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr);
        der_.resize(size);
        ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                               CRYPT_STRING_BASE64HEADER, der_.data(), &size, nullptr, nullptr);
        // No context of it is kept: the registry store is written when it
        // is closed, which a context still held would put off.
        HCERTSTORE store = OpenRoot();
        const bool added =
            store && ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der_.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (store) ::CertCloseStore(store, 0);
        if (!added) throw std::runtime_error("the test CA cannot be added to the root store");
    }
    ~TrustedRoot() {
        HCERTSTORE store = OpenRoot();
        PCCERT_CONTEXT ca = ::CertCreateCertificateContext(X509_ASN_ENCODING, der_.data(),
                                                           static_cast<DWORD>(der_.size()));
        if (PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                                CERT_FIND_EXISTING, ca, nullptr))
            ::CertDeleteCertificateFromStore(found); // frees the context too
        ::CertFreeCertificateContext(ca);
        ::CertCloseStore(store, 0);
    }
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;

private:
    static HCERTSTORE OpenRoot() {
        // The registry store itself: deleting through the system store's view
        // leaves the certificate in the registry under Wine.
        return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                               CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    }

    std::vector<BYTE> der_;
};

} // namespace vyktest
