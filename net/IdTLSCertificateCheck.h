#pragma once
// The checks of a server's certificate chain that this client makes itself,
// after the platform's library has built the chain to a trust anchor, so that
// both platforms refuse the same certificates whatever a system's
// configuration allows: the host against the subject alternative names only,
// the CA constraints and the usages, and a floor for keys and signatures
// below the trust anchor.

#include "net/IdGlobal.h"

#include <string>
#include <vector>

// The words of a refusal, for CertificateRejected; the engines name the
// library's own findings with the same words.
namespace TLSCheck {
constexpr const char* NameMismatch = "name mismatch";
constexpr const char* NotForThisUse = "not valid for this use";
constexpr const char* BasicConstraints = "invalid basic constraints";
constexpr const char* PathTooLong = "path too long";
constexpr const char* KeyTooSmall = "key too small";
constexpr const char* WeakSignature = "weak signature algorithm";
constexpr const char* MayNotSign = "key usage does not allow signing";
constexpr const char* NameConstraint = "name constraint violated";
constexpr const char* UnknownIssuer = "unknown issuer";
constexpr const char* Revoked = "revoked";
constexpr const char* BadSignature = "invalid signature";
constexpr const char* Unreadable = "the certificate cannot be read";
} // namespace TLSCheck

struct TIdTLSPeer {
    std::string HostName; // without its trailing dot; empty for an address
    TIdBytes Address;     // the network bytes of an IP literal
    // The handshake had the leaf's key sign (TLS 1.3, any ephemeral key
    // exchange): a key usage that forbids signing then refuses it.
    bool LeafSigns = true;
};

// chain: DER certificates, the server's own first and the trust anchor last.
// The first refusal's words, or empty when the chain passes.
std::string TLSChainProblem(const std::vector<TIdBytes>& chain, const TIdTLSPeer& peer);

// Whether a DNS name of a certificate covers host (neither with a trailing
// dot): equal without regard to case, or "*." and at least two labels, the
// star standing for exactly the host's first label.
bool DnsNameMatches(const std::string& pattern, const std::string& host);
