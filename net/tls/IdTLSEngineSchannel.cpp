// The TLS session over Schannel (SSPI), which is part of the system. The
// certificate is checked by IdTLSChainSchannel after the handshake (and after
// any later one), never by Schannel itself. An IP literal is sent as no
// server name.

#include "net/IdTLSEngine.h"

#include "host/windows/WideText.h"
#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"
#include "net/tls/IdTLSChainSchannel.h"

#include <schannel.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr std::uint8_t kAlertRecord = 0x15;

std::string StatusText(SECURITY_STATUS status) {
    char* text = nullptr;
    const DWORD size = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = size && text ? std::string(text, size) : std::string();
    if (text) ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    return message.empty() ? std::string("error ") + code : message + " (" + code + ")";
}

class TIdTLSEngineSchannel : public TIdTLSEngine {
public:
    explicit TIdTLSEngineSchannel(const TIdTLSSettings& settings)
        : host_(settings.ServerName), peer_(TLSPeerOf(host_)),
          deadline_(settings.HandshakeDeadline) {
        if (!peer_.HostName.empty()) serverName_ = Utf8ToWide(peer_.HostName);
        if (!settings.ExtraCAFile.empty()) anchors_ = ReadTrustAnchors(settings.ExtraCAFile);
        SCHANNEL_CRED credentials{};
        credentials.dwVersion = SCHANNEL_CRED_VERSION;
        credentials.dwFlags =
            SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;
        // TLS 1.3 where the system offers it; a system that knows no 1.3 refuses the bit.
        SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
        for (const DWORD protocols :
             {DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT), DWORD(SP_PROT_TLS1_2_CLIENT)}) {
            credentials.grbitEnabledProtocols = protocols;
            status = ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                                 SECPKG_CRED_OUTBOUND, nullptr, &credentials,
                                                 nullptr, nullptr, &credentials_, nullptr);
            if (status == SEC_E_OK) break;
        }
        if (status != SEC_E_OK) {
            if (anchors_) ::CertCloseStore(anchors_, 0);
            throw EIdTLSError(HandshakeFailed(host_, StatusText(status)));
        }
    }

    ~TIdTLSEngineSchannel() override {
        if (haveContext_) ::DeleteSecurityContext(&context_);
        ::FreeCredentialsHandle(&credentials_);
        if (anchors_) ::CertCloseStore(anchors_, 0);
    }

    TIdTLSEngineSchannel(const TIdTLSEngineSchannel&) = delete;
    TIdTLSEngineSchannel& operator=(const TIdTLSEngineSchannel&) = delete;

    bool Handshake() override {
        if (established_) return true;
        for (;;) {
            if (haveContext_ && in_.empty()) return false;
            const SECURITY_STATUS status = Step();
            if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
            if (status == SEC_I_INCOMPLETE_CREDENTIALS || status == SEC_I_CONTINUE_NEEDED) continue;
            if (status != SEC_E_OK) throw EIdTLSError(HandshakeFailed(host_, StatusText(status)));
            VerifyServerCertificate(context_, anchors_, peer_, host_);
            const SECURITY_STATUS sized =
                ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
            if (sized != SEC_E_OK || sizes_.cbMaximumMessage == 0)
                throw EIdTLSError(HandshakeFailed(host_, StatusText(sized)));
            established_ = true;
            return true;
        }
    }

    TIdBytes& ReceiveBuffer() override {
        received_.resize(kTLSReceiveBlock);
        return received_;
    }
    void Received(std::size_t count) override {
        in_.insert(in_.end(), received_.begin(),
                   received_.begin() + static_cast<std::ptrdiff_t>(count));
    }

    TIdBytes TakeOutgoing() override { return std::exchange(out_, {}); }

    std::size_t Decrypt(std::uint8_t* out, std::size_t max) override {
        while (plainStart_ == plain_.size() && !closeNotify_ && !in_.empty()) {
            if (renegotiating_) {
                // A handshake message after the handshake (a TLS 1.3 ticket,
                // a key update, a renegotiation) goes to the handshake call
                // until it is done; a certificate it brings is checked anew.
                const SECURITY_STATUS step = Step();
                if (step == SEC_E_INCOMPLETE_MESSAGE) return 0;
                if (step == SEC_I_CONTINUE_NEEDED || step == SEC_I_INCOMPLETE_CREDENTIALS) continue;
                if (step != SEC_E_OK)
                    throw EIdTLSError("TLS error on the connection to " + host_ + ": " +
                                      StatusText(step) + ".");
                renegotiating_ = false;
                VerifyServerCertificate(context_, anchors_, peer_, host_);
                continue;
            }
            // Wine answers the peer's close_notify with SEC_E_OK and no data;
            // the record's type is what tells it from an empty record.
            const bool alert = in_[0] == kAlertRecord;
            SecBuffer buffers[4] = {{static_cast<ULONG>(in_.size()), SECBUFFER_DATA, in_.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = ::DecryptMessage(&context_, &description, 0, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) return 0;
            if (status == SEC_I_CONTEXT_EXPIRED) {
                closeNotify_ = true;
                break;
            }
            if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
                throw EIdTLSError("TLS error on the connection to " + host_ + ": " +
                                  StatusText(status) + ".");
            TIdBytes extra;
            bool data = false;
            for (const SecBuffer& buffer : buffers) {
                if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
                    const auto* begin = static_cast<const std::uint8_t*>(buffer.pvBuffer);
                    plain_.erase(plain_.begin(),
                                 plain_.begin() + static_cast<std::ptrdiff_t>(plainStart_));
                    plainStart_ = 0;
                    plain_.insert(plain_.end(), begin, begin + buffer.cbBuffer);
                    data = true;
                }
                if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0) {
                    const auto* begin = static_cast<const std::uint8_t*>(buffer.pvBuffer);
                    extra.assign(begin, begin + buffer.cbBuffer);
                }
            }
            in_ = std::move(extra);
            if (status == SEC_I_RENEGOTIATE) {
                renegotiating_ = true;
            } else if (!data && alert) {
                closeNotify_ = true;
            }
        }
        const std::size_t n = std::min(max, plain_.size() - plainStart_);
        std::copy_n(plain_.begin() + static_cast<std::ptrdiff_t>(plainStart_), n, out);
        plainStart_ += n;
        return n;
    }

    bool HasPendingInput() const override { return plainStart_ < plain_.size() || !in_.empty(); }
    bool CloseNotifyReceived() const override {
        return closeNotify_ && plainStart_ == plain_.size();
    }

    void Encrypt(const std::uint8_t* bytes, std::size_t count) override {
        while (count > 0) {
            const std::size_t piece = std::min<std::size_t>(count, sizes_.cbMaximumMessage);
            TIdBytes record(sizes_.cbHeader + piece + sizes_.cbTrailer);
            std::copy_n(bytes, piece, record.begin() + sizes_.cbHeader);
            SecBuffer buffers[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<ULONG>(piece), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
                 record.data() + sizes_.cbHeader + piece},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &description, 0);
            if (status != SEC_E_OK)
                throw EIdTLSError("TLS error on the connection to " + host_ + ": " +
                                  StatusText(status) + ".");
            out_.insert(out_.end(), record.begin(),
                        record.begin() + buffers[0].cbBuffer + buffers[1].cbBuffer +
                            buffers[2].cbBuffer);
            bytes += piece;
            count -= piece;
        }
    }

    void Shutdown() override {
        if (!haveContext_) return;
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc description{SECBUFFER_VERSION, 1, &token};
        if (::ApplyControlToken(&context_, &description) != SEC_E_OK) return;
        in_.clear();
        Step();
    }

    TIdTLSInfo Info() const override {
        TIdTLSInfo info;
        auto* context = const_cast<CtxtHandle*>(&context_);
        SecPkgContext_ConnectionInfo connection{};
        if (::QueryContextAttributesW(context, SECPKG_ATTR_CONNECTION_INFO, &connection) ==
            SEC_E_OK) {
            info.Version = connection.dwProtocol & SP_PROT_TLS1_3_CLIENT ? "TLSv1.3"
                           : connection.dwProtocol & SP_PROT_TLS1_2_CLIENT
                               ? "TLSv1.2"
                               : "TLS (protocol " + std::to_string(connection.dwProtocol) + ")";
        }
        SecPkgContext_CipherInfo cipher{};
        cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
        if (::QueryContextAttributesW(context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK &&
            cipher.szCipherSuite[0])
            info.Cipher = WideToUtf8(cipher.szCipherSuite);
        else
            info.Cipher = "algorithm " + std::to_string(connection.aiCipher) + ", " +
                          std::to_string(connection.dwCipherStrength) + " bits";
        PCCERT_CONTEXT peer = nullptr;
        if (::QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &peer) ==
                SEC_E_OK &&
            peer) {
            info.Subject = NameText(peer->pCertInfo->Subject);
            info.Issuer = NameText(peer->pCertInfo->Issuer);
            ::CertFreeCertificateContext(peer);
        }
        return info;
    }

private:
    // One call of the handshake function with what has arrived; its output
    // token goes out, and bytes beyond what it used stay for the next call.
    SECURITY_STATUS Step() {
        SecBuffer input[2] = {{static_cast<ULONG>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDescription{SECBUFFER_VERSION, 2, input};
        SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, &output};
        ULONG attributes = 0;
        wchar_t* name = serverName_.empty() ? nullptr : serverName_.data();
        const SECURITY_STATUS status = ::InitializeSecurityContextW(
            &credentials_, haveContext_ ? &context_ : nullptr, name, flags_, 0, 0,
            haveContext_ ? &inputDescription : nullptr, 0, haveContext_ ? nullptr : &context_,
            &outputDescription, &attributes, nullptr);
        if (!FAILED(status) || status == SEC_E_INCOMPLETE_MESSAGE) haveContext_ = true;
        if (output.pvBuffer) {
            const auto* begin = static_cast<const std::uint8_t*>(output.pvBuffer);
            if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
                out_.insert(out_.end(), begin, begin + output.cbBuffer);
            ::FreeContextBuffer(output.pvBuffer);
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) return status;
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            CertificateRequested();
            return status;
        }
        if (input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer > 0)
            in_.erase(in_.begin(), in_.end() - input[1].cbBuffer);
        else if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
            in_.clear();
        return status;
    }

    // A request for a client certificate is answered by the same input again,
    // telling Schannel to go on without one: a few times, and within the
    // handshake's time limit.
    void CertificateRequested() {
        flags_ |= ISC_REQ_USE_SUPPLIED_CREDS;
        if (++certificateRequests_ > kTLSCertificateRequestLimit)
            throw EIdTLSError(HandshakeFailed(host_, kTLSKeepsAskingForCertificate));
        if (!established_ && std::chrono::steady_clock::now() >= deadline_)
            throw EIdTLSError(HandshakeFailed(
                host_, "the time limit passed while the server asked for a client certificate"));
    }

    std::string host_;
    std::wstring serverName_; // empty for an address: no SNI
    TIdTLSPeer peer_;
    std::chrono::steady_clock::time_point deadline_;
    int certificateRequests_ = 0;
    ULONG flags_ = kContextFlags;
    HCERTSTORE anchors_ = nullptr;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveContext_ = false;
    bool established_ = false;
    bool closeNotify_ = false;
    bool renegotiating_ = false;
    SecPkgContext_StreamSizes sizes_{};
    TIdBytes received_;
    TIdBytes in_;
    TIdBytes out_;
    TIdBytes plain_;
    std::size_t plainStart_ = 0;
};

} // namespace

std::unique_ptr<TIdTLSEngine> CreateTLSEngine(const TIdTLSSettings& settings) {
    return std::make_unique<TIdTLSEngineSchannel>(settings);
}
