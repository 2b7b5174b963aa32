#pragma once
// Whether a downloaded program may replace the installed one, judged by the
// signatures both carry:
//  - keys pinned: the download must carry a valid signature whose signer's
//    key is one of them, whatever the installed program carries;
//  - else, when the installed program's signature verifies: the download must
//    be signed with the same key, or by a certificate of exactly the same
//    subject that chains to a trusted root now or at its timestamp (a renewed
//    certificate);
//  - else anything is accepted, as before signatures were checked.
// No revocation is checked, and an older signed release is not refused.

#include "host/Exception.h"
#include "host/ProgramSignature.h"
#include "host/Stream.h"

#include <string>
#include <vector>

enum class TPublisherFailure {
    pfNoSignature,
    pfDigestMismatch,
    pfSignatureInvalid,
    pfOtherKey,
    pfOtherSubject,
    pfUntrustedChain,
};

class EPublisherRefused : public Exception {
public:
    EPublisherRefused(TPublisherFailure failure, const std::string& detail);
    TPublisherFailure Failure() const { return failure_; }

private:
    TPublisherFailure failure_;
};

// A pinned key is the SHA-256 of a signer's SubjectPublicKeyInfo: 64 hex
// digits, either case. Raises EConvertError for anything else.
std::string PublisherKeyPin(const std::string& text);
// A comma-separated list of pins, empty entries ignored.
std::vector<std::string> PublisherKeyPins(const std::string& list);

class TPublisherRule {
public:
    explicit TPublisherRule(std::vector<std::string> pinnedKeys = {})
        : pinned_(std::move(pinnedKeys)) {}

    // Raises EPublisherRefused naming what failed; returns when download may
    // replace the program whose signature is installed (nullptr: none known).
    void Check(TStream& download, const TProgramSignature* installed) const;

private:
    std::vector<std::string> pinned_; // lower-case hex
};
