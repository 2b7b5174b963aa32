// The TLS session over OpenSSL 3, on memory BIOs: the handler moves the bytes.
// Trust comes from OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR
// work as with every OpenSSL program.

#include "net/IdTLSEngine.h"

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"
#include "net/IdTLSCertificateCheck.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

namespace {

std::string LibraryReason(const std::string& fallback) {
    std::string reason;
    while (const unsigned long code = ERR_get_error()) {
        if (const char* text = ERR_reason_error_string(code)) reason = text;
    }
    return reason.empty() ? fallback : reason;
}

std::string NameText(const X509_NAME* name) {
    BIO* out = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<std::size_t>(size));
    BIO_free(out);
    return text;
}

// Received ciphertext that the session reads where it arrived: one copy
// fewer than a memory BIO's per receive.
struct TArrived {
    TIdBytes bytes;
    std::size_t start = 0;
    std::size_t end = 0;
    TIdBytes spare;
};

int ReadArrived(BIO* bio, char* out, std::size_t size, std::size_t* read) {
    auto* arrived = static_cast<TArrived*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const std::size_t n = std::min(size, arrived->end - arrived->start);
    if (n == 0) {
        BIO_set_retry_read(bio);
        *read = 0;
        return 0;
    }
    std::copy_n(arrived->bytes.data() + arrived->start, n, reinterpret_cast<std::uint8_t*>(out));
    arrived->start += n;
    *read = n;
    return 1;
}

long ControlArrived(BIO* bio, int command, long, void*) {
    const auto* arrived = static_cast<const TArrived*>(BIO_get_data(bio));
    if (command == BIO_CTRL_PENDING) return static_cast<long>(arrived->end - arrived->start);
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

const BIO_METHOD* ArrivedMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "received ciphertext");
        if (m) {
            BIO_meth_set_read_ex(m, ReadArrived);
            BIO_meth_set_ctrl(m, ControlArrived);
            BIO_meth_set_create(m, [](BIO* bio) {
                BIO_set_init(bio, 1);
                return 1;
            });
        }
        return m;
    }();
    return method;
}

class TIdTLSEngineOpenSSL : public TIdTLSEngine {
public:
    explicit TIdTLSEngineOpenSSL(const TIdTLSSettings& settings) : host_(settings.ServerName) {
        context_.reset(SSL_CTX_new(TLS_client_method()));
        if (!context_) throw EIdTLSError(LibraryReason("no TLS context"));
        SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
        // Level 2 whatever the system's configuration says: RSA keys of 2048
        // bits and more, no SHA-1 signatures. Our own check holds the same floor.
        SSL_CTX_set_security_level(context_.get(), 2);
        SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(context_.get(), VerifyChain, this);
        SSL_CTX_set_client_cert_cb(context_.get(), CertificateRequested);
        SSL_CTX_set_default_verify_paths(context_.get());
        if (!settings.ExtraCAFile.empty() &&
            SSL_CTX_load_verify_locations(context_.get(), settings.ExtraCAFile.c_str(), nullptr) !=
                1)
            throw EIdTLSError("The CA certificates in " + settings.ExtraCAFile +
                              " cannot be read: " + LibraryReason("no certificate") + ".");
        ssl_.reset(SSL_new(context_.get()));
        if (!ssl_) throw EIdTLSError(LibraryReason("no TLS session"));
        in_ = ArrivedMethod() ? BIO_new(ArrivedMethod()) : nullptr;
        out_ = BIO_new(BIO_s_mem());
        // The session owns both BIOs from here on, even one that is missing.
        SSL_set0_rbio(ssl_.get(), in_);
        SSL_set0_wbio(ssl_.get(), out_);
        if (!in_ || !out_) throw EIdTLSError(LibraryReason("no TLS session"));
        BIO_set_data(in_, &arrived_);
        SSL_set_app_data(ssl_.get(), this);
        SSL_set_connect_state(ssl_.get());
        X509_VERIFY_PARAM* check = SSL_get0_param(ssl_.get());
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                                   X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        // An address is matched against the IP entries, and is no SNI. A
        // check that cannot be set up is no session at all.
        peer_ = TLSPeerOf(host_);
        const TIdBytes& address = peer_.Address;
        const bool checked =
            address.empty() ? SSL_set_tlsext_host_name(ssl_.get(), host_.c_str()) == 1 &&
                                  SSL_set1_host(ssl_.get(), host_.c_str()) == 1
                            : X509_VERIFY_PARAM_set1_ip(check, address.data(), address.size()) == 1;
        if (!checked)
            throw EIdTLSError(HandshakeFailed(host_, LibraryReason("the name cannot be checked")));
    }

    bool Handshake() override {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_.get());
        if (result == 1) return true;
        const int error = SSL_get_error(ssl_.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return false;
        if (error == SSL_ERROR_WANT_X509_LOOKUP)
            throw EIdTLSError(HandshakeFailed(host_, kTLSKeepsAskingForCertificate));
        const long verified = SSL_get_verify_result(ssl_.get());
        if (verified == X509_V_ERR_APPLICATION_VERIFICATION && !problem_.empty())
            throw EIdTLSCertificateError(CertificateRejected(host_, problem_));
        if (verified != X509_V_OK)
            throw EIdTLSCertificateError(CertificateRejected(host_, CheckText(verified)));
        throw EIdTLSError(HandshakeFailed(host_, LibraryReason("the connection ended")));
    }

    TIdBytes& ReceiveBuffer() override {
        arrived_.spare.resize(kTLSReceiveBlock);
        return arrived_.spare;
    }

    void Received(std::size_t count) override {
        if (arrived_.start == arrived_.end) {
            // All taken, as after every read that wanted more: swap, no copy.
            std::swap(arrived_.bytes, arrived_.spare);
            arrived_.start = 0;
            arrived_.end = count;
            return;
        }
        arrived_.bytes.erase(arrived_.bytes.begin(),
                             arrived_.bytes.begin() + static_cast<std::ptrdiff_t>(arrived_.start));
        arrived_.bytes.resize(arrived_.end - arrived_.start);
        arrived_.bytes.insert(arrived_.bytes.end(), arrived_.spare.begin(),
                              arrived_.spare.begin() + static_cast<std::ptrdiff_t>(count));
        arrived_.start = 0;
        arrived_.end = arrived_.bytes.size();
    }

    TIdBytes TakeOutgoing() override {
        TIdBytes out(static_cast<std::size_t>(BIO_ctrl_pending(out_)));
        if (!out.empty()) BIO_read(out_, out.data(), static_cast<int>(out.size()));
        return out;
    }

    std::size_t Decrypt(std::uint8_t* out, std::size_t max) override {
        if (closeNotify_) return 0;
        ERR_clear_error();
        const int result = SSL_read(ssl_.get(), out, static_cast<int>(max));
        if (result > 0) return static_cast<std::size_t>(result);
        const int error = SSL_get_error(ssl_.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return 0;
        if (error == SSL_ERROR_ZERO_RETURN) {
            closeNotify_ = true;
            return 0;
        }
        if (error == SSL_ERROR_WANT_X509_LOOKUP)
            throw EIdTLSError(HandshakeFailed(host_, kTLSKeepsAskingForCertificate));
        throw EIdTLSError("TLS error on the connection to " + host_ + ": " +
                          LibraryReason("bad record") + ".");
    }

    bool HasPendingInput() const override {
        return SSL_pending(ssl_.get()) > 0 || arrived_.start < arrived_.end;
    }
    bool CloseNotifyReceived() const override { return closeNotify_; }

    void Encrypt(const std::uint8_t* bytes, std::size_t count) override {
        ERR_clear_error();
        if (count > 0 && SSL_write(ssl_.get(), bytes, static_cast<int>(count)) <= 0)
            throw EIdTLSError("TLS error on the connection to " + host_ + ": " +
                              LibraryReason("cannot encrypt") + ".");
    }

    void Shutdown() override { SSL_shutdown(ssl_.get()); }

    TIdTLSInfo Info() const override {
        TIdTLSInfo info{SSL_get_version(ssl_.get()), SSL_get_cipher_name(ssl_.get()), {}, {}};
        if (const X509* peer = SSL_get0_peer_certificate(ssl_.get())) {
            info.Subject = NameText(X509_get_subject_name(peer));
            info.Issuer = NameText(X509_get_issuer_name(peer));
        }
        return info;
    }

private:
    // The library's verification, then ours over the chain it built: the
    // handshake ends at the first refusal of either.
    static int VerifyChain(X509_STORE_CTX* store, void* self) {
        if (X509_verify_cert(store) != 1) return 0;
        auto* engine = static_cast<TIdTLSEngineOpenSSL*>(self);
        std::vector<TIdBytes> chain;
        const STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(store);
        for (int i = 0; i < sk_X509_num(built); ++i) {
            const X509* certificate = sk_X509_value(built, i);
            TIdBytes der(static_cast<std::size_t>(std::max(i2d_X509(certificate, nullptr), 0)));
            unsigned char* at = der.data();
            i2d_X509(certificate, &at);
            chain.push_back(std::move(der));
        }
        TIdTLSPeer peer = engine->peer_;
        // Only RSA key transport leaves the server's key unused for signing.
        const SSL_CIPHER* cipher = SSL_get_pending_cipher(engine->ssl_.get());
        peer.LeafSigns = SSL_version(engine->ssl_.get()) >= TLS1_3_VERSION || !cipher ||
                         SSL_CIPHER_get_kx_nid(cipher) != NID_kx_rsa;
        engine->problem_ = TLSChainProblem(chain, peer);
        if (engine->problem_.empty()) return 1;
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }

    // Answered without a certificate a few times (0); then the session waits
    // for one (-1), and the engine ends it.
    static int CertificateRequested(SSL* ssl, X509**, EVP_PKEY**) {
        auto* engine = static_cast<TIdTLSEngineOpenSSL*>(SSL_get_app_data(ssl));
        return ++engine->certificateRequests_ > kTLSCertificateRequestLimit ? -1 : 0;
    }

    // The library's findings in the words both platforms use.
    static std::string CheckText(long verified) {
        switch (verified) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return TLSCheck::UnknownIssuer;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TLSCheck::NameMismatch;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "not yet valid";
        case X509_V_ERR_EE_KEY_TOO_SMALL:
        case X509_V_ERR_CA_KEY_TOO_SMALL:
            return TLSCheck::KeyTooSmall;
        case X509_V_ERR_CA_MD_TOO_WEAK:
            return TLSCheck::WeakSignature;
        case X509_V_ERR_INVALID_PURPOSE:
            return TLSCheck::NotForThisUse;
        case X509_V_ERR_INVALID_CA:
            return TLSCheck::BasicConstraints;
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
            return TLSCheck::PathTooLong;
        case X509_V_ERR_PERMITTED_VIOLATION:
        case X509_V_ERR_EXCLUDED_VIOLATION:
        case X509_V_ERR_SUBTREE_MINMAX:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
        case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
            return TLSCheck::NameConstraint;
        case X509_V_ERR_CERT_REVOKED:
            return TLSCheck::Revoked;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            return TLSCheck::BadSignature;
        default:
            return X509_verify_cert_error_string(verified);
        }
    }

    std::string host_;
    TIdTLSPeer peer_;
    TArrived arrived_; // before the session, which reads it until its end
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_{nullptr, SSL_CTX_free};
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_{nullptr, SSL_free};
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
    bool closeNotify_ = false;
    std::string problem_; // our check's refusal of the chain
    int certificateRequests_ = 0;
};

} // namespace

std::unique_ptr<TIdTLSEngine> CreateTLSEngine(const TIdTLSSettings& settings) {
    return std::make_unique<TIdTLSEngineOpenSSL>(settings);
}
