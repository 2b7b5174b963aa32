#pragma once
// The lines of vykget --verbose: the request head as sent ("> "), each
// response head as received ("< ") and each connect ("* "). Credentials in
// "Authorization" and "Proxy-Authorization" are shown as "<scheme> ***".

#include "host/ProgramSignature.h"
#include "http/IdHeaderList.h"
#include "http/IdProxySettings.h"
#include "net/IdTLSEngine.h"

#include <string>

// The head at the start of bytes as sent, up to its empty line; nothing when
// bytes do not begin a request (a body sent on its own).
std::string TraceRequestHead(const std::string& bytes);
std::string TraceResponseHead(const std::string& statusLine, const TIdHeaderList& headerLines);
std::string TraceConnect(const std::string& address, int port);
// Which proxy serves the URL, or that none does, and where that was set.
std::string TraceProxy(const TIdProxyChoice& proxy);
// What TLS negotiated: protocol version and cipher, the certificate's subject and issuer.
std::string TraceTLS(const TIdTLSInfo& info);
// Who signed a downloaded program: subject, issuer, key pin and timestamp,
// or why no signature counts.
std::string TraceSignature(const TProgramSignature& signature);
