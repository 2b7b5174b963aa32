#pragma once
// The seam to the platform's TLS library: one client session that works on
// bytes only. Ciphertext from the peer is pushed in, ciphertext for the peer
// is taken out, and the handler moves both over its socket. The peer's
// certificate is always verified: the chain to the system's trusted roots
// (plus the anchors of ExtraCAFile), the host name or IP address against the
// subject alternative names, and the validity dates. TLS 1.2 and 1.3 only.

#include "net/IdGlobal.h"
#include "net/IdTLSCertificateCheck.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct TIdTLSSettings {
    // The URL's host as TLSServerName gives it: a name (sent as SNI) or an IP
    // literal without brackets.
    std::string ServerName;
    // A PEM file of further trust anchors, or empty.
    std::string ExtraCAFile;
    // When the handshake must be done by: an engine that repeats a step on
    // its own (without waiting for the peer) stops there.
    std::chrono::steady_clock::time_point HandshakeDeadline =
        std::chrono::steady_clock::time_point::max();
};

// What was negotiated, for a verbose trace.
struct TIdTLSInfo {
    std::string Version;
    std::string Cipher;
    std::string Subject;
    std::string Issuer;
};

class TIdTLSEngine {
public:
    virtual ~TIdTLSEngine() = default;

    // Advances the handshake with what has been pushed; true once it is done.
    // Raises EIdTLSCertificateError for a certificate that does not verify and
    // EIdTLSError for any other failure.
    virtual bool Handshake() = 0;
    // Where the next receive of ciphertext goes (from its start, up to its
    // size), and how much arrived there: the session reads it in place.
    virtual TIdBytes& ReceiveBuffer() = 0;
    virtual void Received(std::size_t count) = 0;
    // Ciphertext waiting to go to the peer (handshake, records, alerts).
    virtual TIdBytes TakeOutgoing() = 0;
    // Up to max plaintext bytes decrypted from what was pushed; 0 when more
    // input is needed or the peer's close_notify has arrived.
    virtual std::size_t Decrypt(std::uint8_t* out, std::size_t max) = 0;
    // Pushed bytes not yet decrypted or plaintext not yet taken: Decrypt may
    // have something without another receive (a close_notify after the last
    // record, say).
    virtual bool HasPendingInput() const = 0;
    virtual bool CloseNotifyReceived() const = 0;
    virtual void Encrypt(const std::uint8_t* bytes, std::size_t count) = 0;
    // Queues our close_notify.
    virtual void Shutdown() = 0;
    virtual TIdTLSInfo Info() const = 0;
};

// A server's requests for a client certificate, which this client has none
// of, are answered without one this many times in a session; the next ends it
// with the reason below.
constexpr int kTLSCertificateRequestLimit = 3;
constexpr const char* kTLSKeepsAskingForCertificate =
    "the server keeps asking for a client certificate";

// The size of ReceiveBuffer(): a few whole records, so that a large body
// takes few receives.
constexpr std::size_t kTLSReceiveBlock = 64 * 1024;

// A session with the platform's library, ready for its first Handshake().
std::unique_ptr<TIdTLSEngine> CreateTLSEngine(const TIdTLSSettings& settings);

// The network bytes of a host that is an IP literal, to check against the
// certificate's IP entries; empty for a name. An IPv4 address written other
// than as four plain decimal numbers (hex, octal, fewer parts) raises
// EIdTLSError: the system that connects and the library that checks could
// read it as two different addresses.
TIdBytes TLSAddressOf(const std::string& host);

// The URL's host as TLS knows it: without one trailing dot, which SNI never
// carries and certificates do not name ("localhost." is "localhost").
std::string TLSServerName(const std::string& host);

// Whom the certificate must name: the host, or the address of an IP literal
// (raising as TLSAddressOf does).
TIdTLSPeer TLSPeerOf(const std::string& serverName);

// The texts of a certificate that did not verify, shared by every platform.
std::string CertificateRejected(const std::string& host, const std::string& check);
std::string HandshakeFailed(const std::string& host, const std::string& reason);
