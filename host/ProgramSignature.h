#pragma once
// The Authenticode signature a Windows program carries inside its file: found
// through the PE headers, its image digest recomputed over the file (read in
// pieces, so memory stays flat), its signer's signature checked, and an
// RFC 3161 timestamp read when its own signature and chain hold.

#include "host/SignatureEngine.h"
#include "host/Stream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TSignatureState {
    ssValid,
    ssNone,             // no signature, or none that can count (unreadable, weak digest)
    ssDigestMismatch,   // the file's bytes are not the ones signed
    ssSignatureInvalid, // the signer's signature does not verify, or the signer signs no code
};

struct TProgramSignature {
    TSignatureState State = TSignatureState::ssNone;
    std::string Why; // what was found, for a state other than ssValid
    TSignatureBytes Signer;
    std::vector<TSignatureBytes> Certificates;
    std::optional<std::int64_t> Timestamp; // seconds since 1970 UTC

    bool Valid() const { return State == TSignatureState::ssValid; }
};

// Never raises for what the file holds; a failing read of the stream raises
// as the stream does.
TProgramSignature ReadProgramSignature(TStream& program);
