#pragma once
// The table of the publisher check, run through the updater's window on each
// platform and through vykget: the program installed, the program downloaded,
// and what must come of it. The programs and their certificates are made for
// the run by make-signed-programs and served under /signed/ by the TLS
// servers' fixture; codesign-ca.pem is the CA a test trusts for code signing.

#include "tests/support/TLSServers.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vyktest {

struct SignatureRow {
    const char* installed; // programs of make-signed-programs, without ".exe"
    const char* download;
    const char* pin;     // the name of a key in its pins file, or nullptr: none pinned
    const char* refusal; // the failure vykget names, or nullptr: the download is installed
};

inline const std::vector<SignatureRow>& SignatureRows() {
    static const std::vector<SignatureRow> rows = {
        {"old-unsigned", "new-unsigned", nullptr, nullptr},
        {"old-signed", "new-same-key", nullptr, nullptr},
        {"old-signed", "new-same-key-expired", nullptr, nullptr},
        {"old-signed", "new-unsigned", nullptr, "no signature"},
        {"old-signed", "new-rogue", nullptr, "untrusted chain"},
        {"old-signed", "new-renewed", nullptr, nullptr},
        // Expired now: valid only at its timestamp, which must chain too.
        {"old-signed", "new-expired-timestamped", nullptr, nullptr},
        {"old-signed", "new-expired-rogue-timestamped", nullptr, "untrusted chain"},
        // An issuer with the trusted CA's name but another key.
        {"old-signed", "new-forged-issuer", nullptr, "untrusted chain"},
        {"old-signed", "new-stranger", nullptr, "other subject"},
        {"old-signed", "new-tampered", nullptr, "digest mismatch"},
        {"old-signed", "new-appended", nullptr, "digest mismatch"},
        {"old-signed", "new-sha1", nullptr, "no signature"},
        {"old-signed", "new-bad-signature", nullptr, "signature invalid"},
        {"old-signed", "new-bad-content", nullptr, "signature invalid"},
        {"old-signed", "new-server-auth", nullptr, "signature invalid"},
        {"old-signed", "new-table-past-end", nullptr, "no signature"},
        {"old-unsigned", "new-same-key", "publisher", nullptr},
        {"old-unsigned", "new-stranger", "publisher", "other key"},
        // A pin binds even where the installed program's publisher would not.
        {"old-signed", "new-renewed", "publisher", "other key"},
    };
    return rows;
}

inline std::string SignedProgram(const std::string& name) {
    std::ifstream in(TLSServers::Get().Signed(name + ".exe"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The pin of a key named in the pins file: its SHA-256 in hex.
inline std::string PinOf(const std::string& key) {
    std::ifstream in(TLSServers::Get().Signed("pins"));
    std::string name, pin;
    while (in >> name >> pin)
        if (name == key) return pin;
    return {};
}

inline std::string SignedProgramUrl(const SignatureRow& row) {
    return TLSServers::Get().Url("plain", std::string("/signed/") + row.download + ".exe",
                                 "127.0.0.1", "http");
}

inline std::string RowName(const SignatureRow& row) {
    return std::string(row.installed) + " -> " + row.download +
           (row.pin ? std::string(", pinned ") + row.pin : "");
}

constexpr const char* kNotThePublishers =
    "Stažený soubor není podepsán vydavatelem VYK. Původní soubor zůstal beze změny.";

} // namespace vyktest
