// The platform's TLS engine (OpenSSL natively, Schannel under Wine) driven
// through its seam alone, over a plain connection to the run's TLS servers:
// the bytes it takes and gives, its verdicts and the end of a session.

#include "net/IdTLSEngine.h"

#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/support/TLSServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

using vyktest::TLSServers;

namespace {

// One engine over one plain connection; every step moves what it can.
class EngineOverSocket {
public:
    EngineOverSocket(const std::string& server, const std::string& host, bool trustTestCA) {
        const TLSServers& servers = TLSServers::Get();
        client_.AttachHandler(&io_);
        client_.SetHost("127.0.0.1");
        client_.SetPort(servers.ports.at(server));
        client_.SetReadTimeout(5000);
        client_.EstablishConnection();
        engine_ = CreateTLSEngine({host, trustTestCA ? servers.CA() : std::string()});
    }

    void Handshake() {
        while (!engine_->Handshake()) {
            Send();
            Receive();
        }
        Send();
    }
    // Writes text through the session and reads the plaintext until the
    // peer's close_notify.
    std::string Exchange(const std::string& text) {
        engine_->Encrypt(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        Send();
        std::string plain;
        std::uint8_t piece[4096];
        while (!engine_->CloseNotifyReceived()) {
            if (const std::size_t n = engine_->Decrypt(piece, sizeof piece))
                plain.append(reinterpret_cast<const char*>(piece), n);
            else if (!engine_->CloseNotifyReceived())
                Receive();
        }
        return plain;
    }
    TIdTLSEngine& Engine() { return *engine_; }
    std::string Outgoing() { return BytesToString(engine_->TakeOutgoing()); }

private:
    void Send() {
        const TIdBytes out = engine_->TakeOutgoing();
        if (!out.empty()) io_.WriteBytes(out);
    }
    void Receive() {
        TIdBuffer& queue = *io_.InputQueue();
        if (queue.Size() == 0) io_.ReceiveIntoQueue();
        TIdBytes& into = engine_->ReceiveBuffer();
        const auto n = std::min<std::size_t>(into.size(), static_cast<std::size_t>(queue.Size()));
        TIdBytes taken;
        queue.ExtractBytes(taken, static_cast<std::int32_t>(n), false);
        std::memcpy(into.data(), taken.data(), n);
        engine_->Received(n);
    }

    TIdIOHandlerStack io_;
    TIdTCPClient client_;
    std::unique_ptr<TIdTLSEngine> engine_;
};

} // namespace

TEST(TIdTLSEngine, SessionsAndVerdictsThroughTheSeam) {
    VYK_REQUIRE_TLS_SERVERS();
    const std::string refused = "The certificate of 127.0.0.1 was not accepted: ";
    const struct {
        const char* name;
        std::string server, host;
        bool trusted;
        std::string error; // the start of the failure's text; empty: a whole session
    } rows[] = {
        {"a trusted server", "good", "127.0.0.1", true, ""},
        {"a name it does not hold", "other", "127.0.0.1", true, refused + "name mismatch."},
        {"its CA not trusted", "good", "127.0.0.1", false, refused + "unknown issuer."},
        {"expired", "expired", "127.0.0.1", true, refused + "expired."},
        {"TLS 1.0 only", "tls10", "127.0.0.1", true, "TLS handshake with 127.0.0.1 failed: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EngineOverSocket session(row.server, row.host, row.trusted);
        try {
            session.Handshake();
            EXPECT_EQ(row.error, "") << "handshake done";
        } catch (const EIdTLSError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, row.error.size()), row.error) << e.what();
            EXPECT_FALSE(row.error.empty()) << e.what();
            continue;
        }
        const TIdTLSInfo info = session.Engine().Info();
        EXPECT_TRUE(info.Version == "TLSv1.2" || info.Version == "TLSv1.3") << info.Version;
        EXPECT_NE(info.Subject.find("good.vykpatch.test"), std::string::npos) << info.Subject;
        // No SNI for an address; the server's close_notify ends the plaintext.
        const std::string reply =
            session.Exchange("GET /sni HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK");
        EXPECT_EQ(reply.substr(reply.size() - 2), "[]");
        EXPECT_FALSE(session.Engine().HasPendingInput());
        session.Engine().Shutdown();
        EXPECT_FALSE(session.Outgoing().empty()) << "no close_notify queued";
    }
}
