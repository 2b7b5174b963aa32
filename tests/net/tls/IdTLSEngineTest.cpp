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
#include <string>

using vyktest::TLSServers;

namespace {

// One engine over one plain connection; every step moves what it can.
struct EngineOverSocket {
    EngineOverSocket(const std::string& server, bool trustTestCA) {
        const TLSServers& servers = TLSServers::Get();
        client.AttachHandler(&io);
        client.SetHost("127.0.0.1");
        client.SetPort(servers.ports.at(server));
        client.SetReadTimeout(5000);
        client.EstablishConnection();
        engine = CreateTLSEngine({"127.0.0.1", trustTestCA ? servers.CA() : std::string()});
    }
    void Handshake() {
        for (; !engine->Handshake(); Receive()) Send();
        Send();
    }
    // Writes text through the session and reads the plaintext up to the
    // peer's close_notify.
    std::string Exchange(const std::string& text) {
        engine->Encrypt(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        Send();
        std::string plain;
        for (std::uint8_t piece[4096]; !engine->CloseNotifyReceived();) {
            const std::size_t n = engine->Decrypt(piece, sizeof piece);
            plain.append(reinterpret_cast<const char*>(piece), n);
            if (n == 0 && !engine->CloseNotifyReceived()) Receive();
        }
        return plain;
    }
    void Send() { io.WriteBytes(engine->TakeOutgoing()); }
    void Receive() {
        TIdBuffer& queue = *io.InputQueue();
        if (queue.Size() == 0) io.ReceiveIntoQueue();
        TIdBytes taken;
        queue.ExtractBytes(taken, std::min<std::int32_t>(queue.Size(), kTLSReceiveBlock), false);
        std::copy(taken.begin(), taken.end(), engine->ReceiveBuffer().begin());
        engine->Received(taken.size());
    }

    TIdIOHandlerStack io;
    TIdTCPClient client;
    std::unique_ptr<TIdTLSEngine> engine;
};

} // namespace

TEST(TIdTLSEngine, SessionsAndVerdictsThroughTheSeam) {
    VYK_REQUIRE_TLS_SERVERS();
    const std::string refused = "The certificate of 127.0.0.1 was not accepted: ";
    const struct {
        const char* name;
        std::string server;
        bool trusted;
        std::string error; // the start of the failure's text; empty: a whole session
    } rows[] = {
        {"a trusted server", "good", true, ""},
        {"a name it does not hold", "other", true, refused + "name mismatch."},
        {"its CA not trusted", "good", false, refused + "unknown issuer."},
        {"expired", "expired", true, refused + "expired."},
        {"TLS 1.0 only", "tls10", true, "TLS handshake with 127.0.0.1 failed: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EngineOverSocket session(row.server, row.trusted);
        try {
            session.Handshake();
            EXPECT_EQ(row.error, "") << "handshake done";
        } catch (const EIdTLSError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, row.error.size()), row.error) << e.what();
            EXPECT_FALSE(row.error.empty()) << e.what();
            continue;
        }
        const TIdTLSInfo info = session.engine->Info();
        EXPECT_TRUE(info.Version == "TLSv1.2" || info.Version == "TLSv1.3") << info.Version;
        EXPECT_NE(info.Subject.find("good.vykpatch.test"), std::string::npos) << info.Subject;
        // No SNI for an address; the server's close_notify ends the plaintext.
        const std::string reply =
            session.Exchange("GET /sni HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK");
        EXPECT_EQ(reply.substr(reply.size() - 2), "[]");
        EXPECT_FALSE(session.engine->HasPendingInput());
        session.engine->Shutdown();
        EXPECT_FALSE(session.engine->TakeOutgoing().empty()) << "no close_notify queued";
    }
}
