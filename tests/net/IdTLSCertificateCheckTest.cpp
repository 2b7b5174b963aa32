// The checks both TLS engines share: how a certificate's DNS name covers a
// host, and the floor for keys that no test server can show.

#include "net/IdTLSCertificateCheck.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

TEST(DnsNameMatches, WholeNamesAndOneWildcardLabel) {
    const struct {
        const char* pattern;
        const char* host;
        bool matches;
    } rows[] = {
        {"localhost", "localhost", true},
        {"LocalHost", "localHOST", true},
        {"localhost", "localhost2", false},
        {"a.test", "b.a.test", false},
        {"*.vykpatch.test", "a.vykpatch.test", true},
        {"*.vykpatch.test", "A.VYKPATCH.TEST", true},
        {"*.vykpatch.test", "vykpatch.test", false},     // the star stands for a label
        {"*.vykpatch.test", ".vykpatch.test", false},    // not for an empty one
        {"*.vykpatch.test", "a.b.vykpatch.test", false}, // nor for two
        {"*.test", "a.test", false},                     // at least two labels after it
        {"*.test.", "a.test.", false},
        {"f*.partial.test", "foo.partial.test", false}, // no partial wildcards
        {"*o.partial.test", "foo.partial.test", false},
        {"*oa.partial.test", "q.a.partial.test", false},
        {"a.*.test", "a.b.test", false},
        {"*.*.test", "a.*.test", false},
        {"*", "localhost", false},
        {"", "", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DnsNameMatches(row.pattern, row.host), row.matches)
            << row.pattern << " for " << row.host;
}

namespace {

TIdBytes ReadDer(const std::string& name) {
    std::ifstream in(std::string(VYK_TEST_CERTIFICATES) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(TLSChainProblem, ECKeysUnder256BitsBelowTheAnchor) {
    TIdTLSPeer localhost;
    localhost.HostName = "localhost";
    const TIdBytes anchor = ReadDer("ec-ca.der");
    ASSERT_FALSE(anchor.empty()) << VYK_TEST_CERTIFICATES;
    EXPECT_EQ(TLSChainProblem({ReadDer("ec-p256.der"), anchor}, localhost), "");
    EXPECT_EQ(TLSChainProblem({ReadDer("ec-p224.der"), anchor}, localhost), "key too small");
    // The anchor's own key is the system's choice, not the server's.
    EXPECT_EQ(TLSChainProblem({ReadDer("ec-p224.der")}, localhost), "");
}
