// The client's own check of a server's certificate chain over any bytes: it
// never crashes or reads outside the certificates (the sanitizers watch), it
// answers only in the words of a refusal, and the case of the host's letters
// changes nothing. Input: a setting byte (bit 0: the handshake had the leaf
// sign), the host (a name or an address) up to a NUL, then
// certificates, each after a two-byte big-endian length. The seeds are chains
// of the TLS tests' certificates.

#include "fuzz/FuzzInput.h"
#include "net/IdExceptionCore.h"
#include "net/IdTLSEngine.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    const std::string host = input.Text();
    const std::string rest = input.Rest();
    std::vector<TIdBytes> chain;
    for (std::size_t at = 0; at + 2 <= rest.size();) {
        const std::size_t length =
            static_cast<std::uint8_t>(rest[at]) * 256u + static_cast<std::uint8_t>(rest[at + 1]);
        const std::size_t start = std::min(at + 2, rest.size()),
                          end = std::min(start + length, rest.size());
        chain.emplace_back(rest.begin() + static_cast<std::ptrdiff_t>(start),
                           rest.begin() + static_cast<std::ptrdiff_t>(end));
        at = end;
    }
    TIdTLSPeer peer;
    try {
        peer = TLSPeerOf(host);
    } catch (const EIdTLSError&) {
        return 0; // an address in a form no connection is checked for
    }
    peer.LeafSigns = settings & 1;
    const std::string verdict = TLSChainProblem(chain, peer);
    static const std::set<std::string> words = {"",
                                                TLSCheck::NameMismatch,
                                                TLSCheck::NotForThisUse,
                                                TLSCheck::BasicConstraints,
                                                TLSCheck::PathTooLong,
                                                TLSCheck::KeyTooSmall,
                                                TLSCheck::WeakSignature,
                                                TLSCheck::MayNotSign,
                                                TLSCheck::Unreadable};
    vykfuzz::Require(words.count(verdict) == 1, "a verdict in no known words: " + verdict);
    std::string upper = host;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    peer = TLSPeerOf(upper);
    peer.LeafSigns = settings & 1;
    vykfuzz::Require(TLSChainProblem(chain, peer) == verdict,
                     "the host's case changed the verdict for " + host);
    return 0;
}
