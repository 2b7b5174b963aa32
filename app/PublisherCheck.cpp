#include "app/PublisherCheck.h"

#include "host/Certificate.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace {

const char* FailureText(TPublisherFailure failure) {
    switch (failure) {
    case TPublisherFailure::pfNoSignature:
        return "no signature";
    case TPublisherFailure::pfDigestMismatch:
        return "digest mismatch";
    case TPublisherFailure::pfSignatureInvalid:
        return "signature invalid";
    case TPublisherFailure::pfOtherKey:
        return "other key";
    case TPublisherFailure::pfOtherSubject:
        return "other subject";
    case TPublisherFailure::pfUntrustedChain:
        return "untrusted chain";
    }
    return "refused";
}

void RequireValid(const TProgramSignature& signature) {
    switch (signature.State) {
    case TSignatureState::ssValid:
        return;
    case TSignatureState::ssNone:
        throw EPublisherRefused(TPublisherFailure::pfNoSignature, signature.Why);
    case TSignatureState::ssDigestMismatch:
        throw EPublisherRefused(TPublisherFailure::pfDigestMismatch, signature.Why);
    case TSignatureState::ssSignatureInvalid:
        throw EPublisherRefused(TPublisherFailure::pfSignatureInvalid, signature.Why);
    }
}

bool TrustedNowOrAtTimestamp(const TProgramSignature& signature) {
    if (ChainsToTrustedRoot(signature.Signer, signature.Certificates, std::time(nullptr),
                            TChainPurpose::cpCodeSigning))
        return true;
    return signature.Timestamp &&
           ChainsToTrustedRoot(signature.Signer, signature.Certificates, *signature.Timestamp,
                               TChainPurpose::cpCodeSigning);
}

} // namespace

EPublisherRefused::EPublisherRefused(TPublisherFailure failure, const std::string& detail)
    : Exception(std::string("The downloaded program is not the publisher's: ") +
                FailureText(failure) + (detail.empty() ? "" : " (" + detail + ")") + "."),
      failure_(failure) {}

std::string PublisherKeyPin(const std::string& text) {
    if (text.size() != 64 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
        throw EConvertError("'" + text +
                            "' is not a key pin: 64 hex digits, the SHA-256 of a public key");
    std::string pin = text;
    std::transform(pin.begin(), pin.end(), pin.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return pin;
}

std::vector<std::string> PublisherKeyPins(const std::string& list) {
    std::vector<std::string> pins;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::string entry = list.substr(start, comma - start);
        entry.erase(std::remove_if(entry.begin(), entry.end(),
                                   [](unsigned char c) { return std::isspace(c); }),
                    entry.end());
        if (!entry.empty()) pins.push_back(PublisherKeyPin(entry));
        start = comma + 1;
    }
    return pins;
}

void TPublisherRule::Check(TStream& download, const TProgramSignature* installed) const {
    if (pinned_.empty() && (installed == nullptr || !installed->Valid())) return;
    const TProgramSignature offered = ReadProgramSignature(download);
    RequireValid(offered);
    const TCertificateFacts signer = ReadCertificate(offered.Signer);
    if (!pinned_.empty()) {
        const std::string key = PublicKeyPin(signer);
        if (std::find(pinned_.begin(), pinned_.end(), key) == pinned_.end())
            throw EPublisherRefused(TPublisherFailure::pfOtherKey,
                                    "the signer's key " + key + " is not pinned");
        return;
    }
    const TCertificateFacts publisher = ReadCertificate(installed->Signer);
    if (signer.PublicKeyInfo == publisher.PublicKeyInfo) return;
    if (signer.Subject != publisher.Subject)
        throw EPublisherRefused(TPublisherFailure::pfOtherSubject,
                                "signed by " + NameText(signer.Subject) + ", not " +
                                    NameText(publisher.Subject));
    if (!TrustedNowOrAtTimestamp(offered))
        throw EPublisherRefused(TPublisherFailure::pfUntrustedChain,
                                "another key whose certificate does not chain to a trusted root");
}
