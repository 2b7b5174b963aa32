#pragma once
// The server's certificate under Schannel, fetched from the context and checked by this code rather
// than by Schannel's automatic validation (which may check nothing, as under Wine): the chain
// engine over the certificates the server sent and the local stores only, its error bits named,
// then the checks both platforms share and the system's SSL policy.

#include "net/IdTLSCertificateCheck.h"

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <windows.h>
// after windows.h, which they need
#include <security.h>
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

// Checks the certificate the server sent on an established context against
// peer; raises EIdTLSCertificateError naming host and the refusal.
void VerifyServerCertificate(CtxtHandle& context, HCERTSTORE anchors, const TIdTLSPeer& peer,
                             const std::string& host);

// A certificate's subject or issuer as text, for the connection's report.
std::string NameText(const CERT_NAME_BLOB& name);
