#include "net/IdTLSCertificateCheck.h"

#include "host/Certificate.h"
#include "host/DerReader.h"

#include <algorithm>
#include <cctype>

namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool WeakSignature(const std::string& algorithm) {
    static const char* const weak[] = {
        "1.2.840.113549.1.1.2", // md2 with RSA
        "1.2.840.113549.1.1.3", // md4 with RSA
        "1.2.840.113549.1.1.4", // md5 with RSA
        "1.2.840.113549.1.1.5", // sha1 with RSA
        "1.3.14.3.2.29",        // sha1 with RSA, the old number
        "1.2.840.10045.4.1",    // sha1 with ECDSA
        "1.2.840.10040.4.3",    // sha1 with DSA
    };
    return std::find(std::begin(weak), std::end(weak), algorithm) != std::end(weak);
}

bool KeyTooSmall(const TCertificateFacts& facts) {
    if (facts.KeyAlgorithm == kRsaKey || facts.KeyAlgorithm == kRsaPssKey)
        return facts.KeyBits < 2048;
    return facts.KeyAlgorithm == kEcKey && facts.KeyBits != 0 && facts.KeyBits < 256;
}

bool ForServers(const TCertificateFacts& facts) {
    return facts.Allows(kServerAuthUsage) || facts.Allows(kAnyUsage);
}

bool NamesPeer(const TCertificateFacts& leaf, const TIdTLSPeer& peer) {
    if (!peer.HostName.empty())
        return std::any_of(
            leaf.DnsNames.begin(), leaf.DnsNames.end(),
            [&](const std::string& name) { return DnsNameMatches(name, peer.HostName); });
    return std::find(leaf.IPAddresses.begin(), leaf.IPAddresses.end(), peer.Address) !=
           leaf.IPAddresses.end();
}

// What is wrong with the certificate at depth (0 the server's, last the
// anchor) for its place in the chain.
const char* ProblemAt(const TCertificateFacts& facts, std::size_t depth, std::size_t anchor,
                      const TIdTLSPeer& peer) {
    if (depth > 0 && depth < anchor && !facts.CertificateAuthority)
        return TLSCheck::BasicConstraints;
    // Intermediates between this CA and the server's certificate.
    if (depth > 0 && facts.PathLength >= 0 &&
        depth - 1 > static_cast<std::size_t>(facts.PathLength))
        return TLSCheck::PathTooLong;
    if (!ForServers(facts)) return TLSCheck::NotForThisUse;
    if (depth < anchor && KeyTooSmall(facts)) return TLSCheck::KeyTooSmall;
    if (depth < anchor && WeakSignature(facts.SignatureAlgorithm)) return TLSCheck::WeakSignature;
    if (depth > 0) return nullptr;
    if (peer.LeafSigns && facts.HasKeyUsage && !(facts.KeyUsage & kDigitalSignatureUsage))
        return TLSCheck::MayNotSign;
    return NamesPeer(facts, peer) ? nullptr : TLSCheck::NameMismatch;
}

} // namespace

std::string TLSChainProblem(const std::vector<TIdBytes>& chain, const TIdTLSPeer& peer) {
    if (chain.empty()) return TLSCheck::Unreadable;
    for (std::size_t depth = 0; depth < chain.size(); ++depth) {
        TCertificateFacts facts;
        try {
            facts = ReadCertificate(chain[depth]);
        } catch (const EDerError&) {
            return TLSCheck::Unreadable;
        }
        if (const char* problem = ProblemAt(facts, depth, chain.size() - 1, peer)) return problem;
    }
    return {};
}

bool DnsNameMatches(const std::string& pattern, const std::string& host) {
    if (host.empty() || pattern.empty()) return false;
    if (pattern.find('*') == std::string::npos) return SameText(pattern, host);
    // Only a whole first label, and never for a name with one label after it.
    const std::string rest = pattern.substr(std::min<std::size_t>(2, pattern.size()));
    if (pattern.compare(0, 2, "*.") != 0 || rest.find('*') != std::string::npos) return false;
    const std::size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 == rest.size()) return false;
    const std::size_t hostDot = host.find('.');
    return hostDot != 0 && hostDot != std::string::npos && SameText(host.substr(hostDot + 1), rest);
}
