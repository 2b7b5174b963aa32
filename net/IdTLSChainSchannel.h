#pragma once
// The server's certificate under Schannel, checked by this code rather than
// by Schannel's automatic validation (which may check nothing, as under Wine):
// the chain engine over the certificates the server sent and the local stores
// only, its error bits named, then the checks both platforms share and the
// system's SSL policy.

#include "net/IdTLSCertificateCheck.h"

#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <string>

// The certificates of a PEM file in a memory store of their own; raises
// EIdTLSError when it holds none.
HCERTSTORE ReadTrustAnchors(const std::string& fileName);

// Why the server's certificate is refused, in the words of
// CertificateRejected, or empty when it passes. anchors (may be null) are
// further roots, matched byte for byte.
std::string ServerCertificateProblem(PCCERT_CONTEXT server, HCERTSTORE anchors,
                                     const TIdTLSPeer& peer);
