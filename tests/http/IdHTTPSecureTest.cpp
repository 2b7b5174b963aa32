// The client over TLS against real servers (nginx, tinyproxy, and a scripted
// TLS server for the cases nginx cannot show), with certificates made for the
// run by a test CA. The same cases run natively over OpenSSL and under Wine
// over Schannel.

#include "http/IdHTTP.h"

#include "host/Stream.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSecure.h"
#include "tests/support/TLSServers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using vyktest::TLSServers;

namespace {

const std::string kProgram = "MZ" + std::string(70000, 'k') + "end";

std::string Pattern() {
    std::string body(100000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i % 251);
    return body;
}

struct Outcome {
    std::string body;
    std::string kind; // empty on success
    std::string message;
    std::string version;
};

struct Fetch {
    Fetch(std::string u) : url(std::move(u)) {}
    Fetch Untrusted() const {
        return With([](Fetch& f) { f.trustTestCA = false; });
    }
    Fetch Via(const std::string& p, const std::string& user = {}) const {
        return With([&](Fetch& f) { f.proxy = p, f.proxyUser = user; });
    }
    Fetch Follow() const {
        return With([](Fetch& f) { f.redirects = true; });
    }
    Fetch Limit(int ms) const {
        return With([ms](Fetch& f) { f.readTimeout = ms; });
    }
    // A second request on the same client once the first has succeeded.
    Fetch Then(const std::string& u) const {
        return With([&](Fetch& f) { f.then = u; });
    }
    template <typename F> Fetch With(F change) const {
        Fetch copy = *this;
        change(copy);
        return copy;
    }

    std::string url;
    bool trustTestCA = true;
    std::string proxy; // a server of TLSServers
    std::string proxyUser;
    bool redirects = false;
    int readTimeout = -1;
    std::string then;
};

Outcome Get(const Fetch& fetch) {
    const TLSServers& servers = TLSServers::Get();
    TIdIOHandlerSecure secure;
    if (fetch.trustTestCA) secure.ExtraCAFile = servers.CA();
    TIdHTTP http;
    http.AttachHandler(&secure);
    http.HandleRedirects = fetch.redirects;
    if (fetch.readTimeout > 0) http.SetReadTimeout(fetch.readTimeout);
    if (!fetch.proxy.empty()) {
        http.ProxyParams().SetProxyServer("127.0.0.1");
        http.ProxyParams().SetProxyPort(servers.ports.at(fetch.proxy));
        if (!fetch.proxyUser.empty()) {
            http.ProxyParams().ProxyUsername = fetch.proxyUser;
            http.ProxyParams().ProxyPassword = "secret";
            http.ProxyParams().BasicAuthentication = true;
        }
    }
    TMemoryStream body;
    Outcome outcome;
    try {
        http.GetToStream(fetch.url, body);
        if (!fetch.then.empty()) {
            body.Clear();
            http.GetToStream(fetch.then, body);
        }
    } catch (const EIdTLSCertificateError& e) {
        outcome = {{}, "certificate", e.what(), {}};
    } catch (const EIdTLSTruncated& e) {
        outcome = {{}, "truncated", e.what(), {}};
    } catch (const EIdTLSError& e) {
        outcome = {{}, "tls", e.what(), {}};
    } catch (const EIdHTTPRequestRefused& e) {
        outcome = {{}, "refused", e.what(), {}};
    } catch (const EIdReadTimeout& e) {
        outcome = {{}, "timeout", e.what(), {}};
    } catch (const EIdHTTPProtocolException& e) {
        outcome = {{}, "status", e.what(), {}};
    } catch (const std::exception& e) {
        outcome = {{}, "other", e.what(), {}};
    }
    outcome.body = body.DataString();
    outcome.version = secure.Info().Version;
    return outcome;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(Https, CertificatesFramingAndRoutes) {
    VYK_REQUIRE_TLS_SERVERS();
    const TLSServers& s = TLSServers::Get();
#ifdef _WIN32
    const std::string newest = "TLSv1.2"; // Wine's Schannel offers no TLS 1.3
    // Wine's TLS library itself ends the handshake over a key that may not
    // sign, before our check sees the certificate.
    const std::string mayNotSign[] = {"tls", "TLS handshake with 127.0.0.1 failed: "};
    // Wine's Schannel fails a renegotiation as such.
    const std::string keepsAsking = "TLS error on the connection to 127.0.0.1: ";
#else
    const std::string newest = "TLSv1.3";
    const std::string mayNotSign[] = {
        "certificate",
        "The certificate of 127.0.0.1 was not accepted: key usage does not allow signing."};
    const std::string keepsAsking =
        "TLS handshake with 127.0.0.1 failed: the server keeps asking for a client certificate.";
#endif
    const std::string refusedBy = "The certificate of 127.0.0.1 was not accepted: ";
    const auto refused = [](const std::string& host, const std::string& check) {
        return "The certificate of " + host + " was not accepted: " + check + ".";
    };
    const std::string fourNumbers =
        " failed: an IPv4 address must be written as four decimal numbers.";
    const struct {
        const char* what;
        Fetch fetch;
        std::string body; // of a success
        std::string kind;
        std::string message; // the start of it
    } rows[] = {
        {"verified by address", {s.Url("good")}, kProgram, "", ""},
        {"verified by name", {s.Url("good", "/instal/Kalmin.exe", "localhost")}, kProgram, "", ""},
        // The server name goes out for a name, never for an address.
        {"SNI for a name", {s.Url("good", "/sni", "localhost")}, "[localhost]", "", ""},
        {"no SNI for an address", {s.Url("good", "/sni")}, "[]", "", ""},
        {"CA not trusted", Fetch(s.Url("good")).Untrusted(), "", "certificate",
         refusedBy + "unknown issuer."},
        {"another name", {s.Url("other")}, "", "certificate", refusedBy + "name mismatch."},
        {"another name, by name",
         {s.Url("other", "/", "localhost")},
         "",
         "certificate",
         "The certificate of localhost was not accepted: name mismatch."},
        {"expired", {s.Url("expired")}, "", "certificate", refusedBy + "expired."},
        {"not yet valid", {s.Url("future")}, "", "certificate", refusedBy + "not yet valid."},
        {"unknown CA", {s.Url("unknown")}, "", "certificate", refusedBy + "unknown issuer."},
        {"TLS 1.0 only", {s.Url("tls10")}, "", "tls", "TLS handshake with 127.0.0.1 failed: "},
        {"closed in the handshake",
         {s.Url("handshake-close")},
         "",
         "tls",
         "TLS handshake with 127.0.0.1 failed: the server closed the connection."},
        {"handshake never answered", Fetch(s.Url("handshake-stall")).Limit(1000), "", "timeout",
         "Read Timeout"},
        {"client certificate asked for", {s.Url("client-cert")}, kProgram, "", ""},
        {"client certificate asked for again and again", Fetch(s.Url("renegotiate")).Limit(5000),
         "", "tls", keepsAsking},
        // Only plain dotted decimal is taken for an address to check.
        {"address in hex",
         {s.Url("good", "/", "0x7f.0.0.1")},
         "",
         "tls",
         "TLS handshake with 0x7f.0.0.1" + fourNumbers},
        {"address with a leading zero",
         {s.Url("good", "/", "127.0.0.01")},
         "",
         "tls",
         "TLS handshake with 127.0.0.01" + fourNumbers},
        // The name is only ever taken from the subject alternative names.
        {"name only in the common name",
         {s.Url("cn-only", "/", "localhost")},
         "",
         "certificate",
         refused("localhost", "name mismatch")},
        // Through the scripted proxy, which needs no name service.
        {"one trailing dot", Fetch(s.Url("good", "/sni", "localhost.")).Via("tunnel"),
         "[localhost]", "", ""},
        {"wildcard, one label",
         Fetch(s.Url("wildcard", "/instal/Kalmin.exe", "a.vykpatch.test")).Via("tunnel"), kProgram,
         "", ""},
        {"wildcard, two labels", Fetch(s.Url("wildcard", "/", "a.b.vykpatch.test")).Via("tunnel"),
         "", "certificate", refused("a.b.vykpatch.test", "name mismatch")},
        {"partial wildcard", Fetch(s.Url("wildcard", "/", "foo.partial.test")).Via("tunnel"), "",
         "certificate", refused("foo.partial.test", "name mismatch")},
        {"wildcard over a top-level name", Fetch(s.Url("wildcard", "/", "a.test")).Via("tunnel"),
         "", "certificate", refused("a.test", "name mismatch")},
        // The same floor on both platforms, whatever the system allows.
        {"RSA key of 1024 bits",
         {s.Url("weak-key")},
         "",
         "certificate",
         refusedBy + "key too small."},
        {"signed with SHA-1",
         {s.Url("sha1")},
         "",
         "certificate",
         refusedBy + "weak signature algorithm."},
        {"CA for client authentication only",
         {s.Url("client-ca")},
         "",
         "certificate",
         refusedBy + "not valid for this use."},
        {"key usage without signing", {s.Url("no-sign")}, "", mayNotSign[0], mayNotSign[1]},
        {"intermediate that is no CA",
         {s.Url("not-ca")},
         "",
         "certificate",
         refusedBy + "invalid basic constraints."},
        {"path too long", {s.Url("path-len")}, "", "certificate", refusedBy + "path too long."},
        {"name constraint",
         {s.Url("name-constrained")},
         "",
         "certificate",
         refusedBy + "name constraint violated."},
        // Its issuer is only at the address the certificate names: never fetched.
        {"incomplete chain", {s.Url("aia")}, "", "certificate", refusedBy + "unknown issuer."},
        // By length and chunked, the framing says when the body is whole.
        {"by length, bare close after", {s.Url("length")}, Pattern(), "", ""},
        {"chunked, bare close after", {s.Url("chunked")}, Pattern(), "", ""},
        {"until close with close_notify", {s.Url("close-notify")}, Pattern(), "", ""},
        {"until a bare close",
         {s.Url("no-close-notify")},
         "",
         "truncated",
         "The connection ended without the server's TLS close_notify"},
        {"stalled", Fetch(s.Url("stall")).Limit(1000), "", "timeout", "Read Timeout"},
        {"error status, bare close",
         {s.Url("error-no-close-notify")},
         "",
         "status",
         "HTTP/1.1 404 Not Found"},
        {"https to http", Fetch(s.Url("good", "/to-http")).Follow(), "", "refused",
         "Request refused: a redirect from https to http (http://127.0.0.1:" +
             std::to_string(s.ports.at("plain"))},
        {"http to https", Fetch(s.Url("plain", "/to-https", "127.0.0.1", "http")).Follow(),
         kProgram, "", ""},
        {"relative redirect", Fetch(s.Url("good", "/relative")).Follow(), kProgram, "", ""},
        // Through a proxy's tunnel the real host's certificate is checked.
        {"CONNECT", Fetch(s.Url("good")).Via("proxy"), kProgram, "", ""},
        {"CONNECT, credentials", Fetch(s.Url("good")).Via("proxy-auth", "user"), kProgram, "", ""},
        {"CONNECT, no credentials", Fetch(s.Url("good")).Via("proxy-auth"), "", "status",
         "HTTP/1.0 407 Proxy Authentication Required"},
        {"CONNECT, another name", Fetch(s.Url("other")).Via("proxy"), "", "certificate",
         refusedBy + "name mismatch."},
        {"CONNECT, no credentials in the tunnel",
         Fetch(s.Url("good", "/proxy-authorization")).Via("proxy-auth", "user"), "[]", "", ""},
        {"CONNECT, another port", Fetch(s.Url("good")).Via("proxy").Then(s.Url("client-cert")),
         kProgram, "", ""},
        // Only a 2xx opens a tunnel; these proxies relay all the same.
        {"CONNECT answered by 100", Fetch(s.Url("good")).Via("tunnel-100").Limit(1000), "",
         "status", "HTTP/1.1 100 Continue"},
        {"CONNECT answered by 302", Fetch(s.Url("good")).Via("tunnel-302").Limit(1000), "",
         "status", "HTTP/1.1 302 Found"},
        {"CONNECT answered by no status line",
         Fetch(s.Url("good")).Via("tunnel-garbage").Limit(1000), "", "status",
         "SSH-2.0-OpenSSH_9.2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Outcome outcome = Get(row.fetch);
        EXPECT_EQ(outcome.kind, row.kind) << outcome.message;
        EXPECT_EQ(outcome.message.substr(0, row.message.size()), row.message);
        // A failed call may have written part of a body: its caller drops it.
        if (row.kind.empty()) {
            EXPECT_TRUE(outcome.body == row.body) << outcome.body.size() << " bytes";
            EXPECT_EQ(outcome.version, newest);
        }
    }
    // The tunnel went to the real host's port, and a new one to another port.
    const std::string log = ReadText(s.Work() + "/proxy.log");
    for (const char* server : {"good", "client-cert"})
        EXPECT_NE(log.find("CONNECT 127.0.0.1:" + std::to_string(s.ports.at(server))),
                  std::string::npos)
            << log;
    EXPECT_EQ(ReadText(s.Work() + "/aia.log"), "") << "an issuer was fetched while verifying";
}
