#include "http/IdHTTPRouter.h"

#include "host/Stream.h"
#include "http/IdCookieManager.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPReplyReader.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdTCPClient.h"

#include <optional>

namespace {

bool ContainsText(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string WithBrackets(const TIdURI& target) {
    return target.IPVersion == Id_IPv6 ? "[" + target.Host + "]" : target.Host;
}

// The target as the request line of a direct route names it: "/" at least.
std::string OriginForm(const TIdURI& target) {
    std::string line = EncodedTarget(target.DirPath + target.DocName + target.Query);
    if (line.empty() || line[0] != '/') line.insert(0, "/");
    return line;
}

// The whole URL, as a proxy is asked for it, its path encoded as above.
std::string AbsoluteForm(const TIdURI& target) {
    std::string line = target.ComposeURI(false, false);
    if (const auto path = line.find('/', line.find("://") + 3); path != std::string::npos)
        line.replace(path, std::string::npos, EncodedTarget(line.substr(path)));
    return line;
}

void CheckHost(const TIdURI& target) {
    // No host name holds a blank or a control byte; sent on, such a name
    // would split the request line or the Host header into other words.
    for (unsigned char c : target.Host)
        if (c <= ' ' || c == 0x7F)
            throw EIdHTTPRequestRefused(
                "Request refused: the host holds a blank or control byte: \"" +
                ShownText(target.Host) + "\"");
}

} // namespace

bool ConnectionOpen(TIdTCPConnection& connection) {
    TIdIOHandler* io = connection.IOHandler();
    if (!io || !io->HandlerOpen) return false;
    io->DetectClosed(false, false);
    return io->HandlerOpen;
}

// A server reads the words of the request line apart by blanks.
std::string EncodedTarget(const std::string& target) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : target) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c <= ' ' || c >= 0x7F) && c != '\r' && c != '\n' && c != 0) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

void TIdHTTPRouter::Resolve(const std::string& reference, TIdURI& target, TIdHTTPRequest& request,
                            TIdHTTPProtocolVersion version) {
    // "//host/path" names another host on the same scheme, not a path.
    const bool networkPath = reference.compare(0, 2, "//") == 0 && !target.Protocol.empty();
    const TIdURI location(networkPath ? target.Protocol + ":" + reference : reference);
    if (!location.Username.empty()) {
        request.Username = PercentDecoded(location.Username);
        request.Password = PercentDecoded(location.Password);
    }
    target.ResolvePathAndQuery(location);
    if (!location.Host.empty()) target.Host = location.Host;
    if (!location.Protocol.empty())
        target.Protocol = LowerCase(location.Protocol);
    else
        target.Protocol = TextIsSame(target.Protocol, "https") ? "https" : "http";
    // Another scheme (ftp:, a mistyped one) is not fetched as if it were http.
    if (!TextIsSame(target.Protocol, "http") && !TextIsSame(target.Protocol, "https"))
        throw EIdUnknownProtocol();
    if (!location.Port.empty())
        target.Port = location.Port;
    else if (TextIsSame(location.Protocol, "http"))
        target.Port = "80";
    else if (TextIsSame(location.Protocol, "https"))
        target.Port = "443";
    else if (target.Port.empty())
        throw EIdUnknownProtocol();
    CheckHost(target);
    // A port that is no number from 1 to 65535 is not taken for 80.
    const auto port = target.Port.find_first_not_of("0123456789") == std::string::npos
                          ? TryDecimalToInt32(target.Port)
                          : std::nullopt;
    if (!port || *port < 1 || *port > 65535)
        throw EIdHTTPRequestRefused("Request refused: invalid port: \"" + ShownText(target.Port) +
                                    "\"");
    target.Port = std::to_string(*port); // "081" is 81 in the Host header too

    // Credentials go only to the host and port they were given for: a
    // redirect elsewhere would hand them to whoever it names.
    const std::string authority = LowerCase(target.Host) + ":" + target.Port;
    if (!location.Username.empty() || credentialsAuthority_.empty()) {
        credentialsAuthority_ = authority;
    } else if (authority != credentialsAuthority_) {
        request.Username.clear();
        request.Password.clear();
        request.BasicAuthentication = false;
        request.Authentication.reset();
    }
    target.Username = request.Username;
    target.Password = request.Password;

    asterisk_ = request.Verb == "OPTIONS" && TextIsSame(location.DocName, "*");
    // A relative reference names no host, so it keeps the address family of the target.
    if (!location.Host.empty()) target.IPVersion = location.IPVersion;
    // Brackets hold an IPv6 address and nothing else (a zone after "%" aside).
    if (target.IPVersion == Id_IPv6 &&
        CanonicalIPv6Text(target.Host.substr(0, target.Host.find('%'))).empty())
        throw EIdInvalidIPv6Address(ShownText(target.Host) + " is not a valid IPv6 address");
    // Outside brackets a colon ends a host: a host that holds one names none.
    if (target.IPVersion != Id_IPv6 && target.Host.find(':') != std::string::npos)
        throw EIdHTTPRequestRefused("Request refused: the host holds a colon: \"" +
                                    ShownText(target.Host) + "\"");
    request.IPVersion = target.IPVersion;

    const std::string& verb = request.Verb;
    if ((verb == "TRACE" || verb == "PUT" || verb == "OPTIONS" || verb == "DELETE") &&
        version != pv1_1)
        throw EIdException("Request method requires HTTP version 1.1");
    request.SetContentLength(request.BodySource ? request.BodySource->Size() : -1);

    // Servers require an IPv6 literal in brackets.
    const std::string defaultPort = TextIsSame(target.Protocol, "https") ? "443" : "80";
    request.Host = target.Port != defaultPort ? WithBrackets(target) + ":" + target.Port
                                              : WithBrackets(target);
}

void TIdHTTPRouter::Open(const TIdURI& target, TIdHTTPRequest& request, int headerLineLimit) {
    TIdTCPClientCustom& connection = connection_;
    const bool secure = TextIsSame(target.Protocol, "HTTPS");
    std::string host;
    int port;
    TIdHTTPRoute route;
    TIdIPVersion family = target.IPVersion;
    if (proxy_.ProxyServer().empty()) {
        if (ConnectionOpen(connection) && connection.Socket() && connection.Socket()->Binding() &&
            connection.Socket()->Binding()->IPVersion() != target.IPVersion)
            connection.CloseConnection();
        host = target.Host;
        port = TryTextToInt32(target.Port).value_or(80);
        route = secure ? RouteSecure : RouteDirect;
    } else {
        host = proxy_.ProxyServer();
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        port = proxy_.ProxyPort();
        // The proxy is reached in its own family, whatever the target's.
        family = host.find(':') != std::string::npos ? Id_IPv6 : Id_IPv4;
        route = secure ? RouteSecureProxy : RouteProxy;
    }
    if ((!TextIsSame(connection.Host(), host) || connection.Port() != port) &&
        ConnectionOpen(connection))
        connection.CloseConnection();
    // https needs a handler that speaks TLS; without one it fails as ever.
    const TIdTLSStart tls = route == RouteSecure        ? TIdTLSStart::OnConnect
                            : route == RouteSecureProxy ? TIdTLSStart::Later
                                                        : TIdTLSStart::None;
    if (connection.IOHandler())
        connection.IOHandler()->PlanTLS(tls);
    else if (secure)
        throw EIdIOHandlerPropInvalid();
    // A plain connection is no secure one, and a tunnel leads to one host only.
    const std::string routeKey =
        std::to_string(route) +
        (route == RouteSecureProxy ? " " + LowerCase(target.Host) + ":" + target.Port : "");
    if (ConnectionOpen(connection) && routeKey != connectedRoute_) connection.CloseConnection();
    connection.SetHost(host);
    connection.SetPort(port);
    request.Route = route;
    Connect(family);
    if (!reused_ && route == RouteSecureProxy)
        OpenTunnel(target, request.UserAgent, headerLineLimit);
    connectedRoute_ = routeKey;
}

bool TIdHTTPRouter::MayKeep(TIdHTTPResponse& response, TIdHTTPProtocolVersion version) {
    const std::string& status = response.StatusLine;
    if (status.size() >= 8) {
        const std::string server = status.substr(5, 3);
        if (server == "1.0")
            response.ServerVersion = pv1_0;
        else if (server == "1.1")
            response.ServerVersion = pv1_1;
    }
    if (!ConnectionOpen(connection_)) return false;
    const std::string connection = Trim(response.Connection);
    const std::string proxyConnection = Trim(response.ProxyConnection);
    const bool keep =
        version == pv1_0
            ? TextIsSame(connection, "KEEP-ALIVE") || TextIsSame(proxyConnection, "KEEP-ALIVE")
            : !(TextIsSame(connection, "CLOSE") || TextIsSame(proxyConnection, "CLOSE"));
    // Bytes beyond a complete reply would be read as the next status line.
    TIdIOHandler* io = connection_.IOHandler();
    return keep && !(io && io->InputQueue() && io->InputQueue()->Size() > 0);
}

void TIdHTTPRouter::Connect(TIdIPVersion family) {
    connection_.CheckPeerClosed(false);
    reused_ = ConnectionOpen(connection_);
    if (reused_) return;
    // Bytes a closed connection left queued belong to no request of ours;
    // they would make the client look connected and fail the next send.
    TIdIOHandler* io = connection_.IOHandler();
    if (io && io->InputQueue()) io->InputQueue()->DiscardAll();
    connection_.SetIPVersion(family);
    connection_.EstablishConnection();
}

void TIdHTTPRouter::OpenTunnel(const TIdURI& target, const std::string& userAgent,
                               int headerLineLimit) {
    TIdIOHandler& io = *connection_.IOHandler();
    const std::string authority = WithBrackets(target) + ":" + target.Port;
    TIdHeaderList headers;
    headers.SetHeader("Host", authority);
    if (!userAgent.empty()) headers.SetHeader("User-Agent", userAgent);
    headers.SetHeader("Proxy-Connection", "keep-alive");
    headers.SetHeader("Pragma", "no-cache");
    proxy_.SetHeaders(headers);
    std::string head = "CONNECT " + authority + " HTTP/1.1\r\n";
    for (int i = 0; i < headers.Count(); ++i)
        if (!headers[i].empty()) head += headers[i] + "\r\n";
    io.WriteText(head + "\r\n");

    // Only a 2xx opens the tunnel; the proxy's refusal is its status line.
    const std::string status = ReadHttpLine(io);
    TIdHeaderList lines;
    ReadHeaderBlock(io, lines, headerLineLimit);
    const int code = status.compare(0, 7, "HTTP/1.") == 0 ? StatusCodeOf(status) : -1;
    if (code / 100 != 2) {
        connection_.CloseConnection();
        throw EIdHTTPProtocolException(
            code, ShownText(status.empty() ? "no reply to CONNECT" : status), {});
    }
    // Bytes before the handshake would belong to no one: the server speaks only after it.
    if (io.InputQueue()->Size() > 0) {
        connection_.CloseConnection();
        throw EIdException("The proxy sent bytes after its reply to CONNECT.");
    }
    io.StartTLS(target.Host);
}

void TIdHTTPRouter::SendHead(const TIdURI& target, TIdHTTPRequest& request,
                             TIdHTTPProtocolVersion version, bool compressed,
                             TIdCookieManager* cookies) {
    request.RequestTarget = asterisk_ ? "*" : OriginForm(target);
    switch (request.Route) {
    case RouteDirect:
        if (version == pv1_0 && request.Connection.empty()) request.Connection = "keep-alive";
        break;
    case RouteProxy:
        if (version == pv1_0 && request.Connection.empty()) request.ProxyConnection = "keep-alive";
        request.RequestTarget = AbsoluteForm(target);
        break;
    case RouteSecure:
    case RouteSecureProxy:
        request.Connection.clear();
        break;
    }
    if (compressed && !ContainsText(request.AcceptEncoding, "deflate") &&
        !ContainsText(request.AcceptEncoding, "gzip"))
        request.AcceptEncoding = "deflate, gzip, ";
    if (!ContainsText(request.AcceptEncoding, "identity")) request.AcceptEncoding += "identity";

    // A long Cookie or Authorization goes out on one line: a folded request
    // line is refused by servers, or read as a header of its own.
    request.HeaderLines.SplitLongLines = false;
    request.SetHeaders();
    // Through a tunnel the proxy sees none of this: its credentials would go to the server.
    if (request.Route != RouteSecureProxy) proxy_.SetHeaders(request.HeaderLines);
    if (cookies) {
        const bool secure = request.Route == RouteSecure || request.Route == RouteSecureProxy;
        const std::string text = cookies->CookieText(target, secure);
        if (!text.empty()) request.HeaderLines.SetHeader("Cookie", text);
    }
    // A line end inside a line would let a Location or a caller's value add
    // headers or a second request of its own: nothing such is sent.
    const std::string requestLine =
        request.Verb + " " + request.RequestTarget + " HTTP/" + (version == pv1_0 ? "1.0" : "1.1");
    const auto refuseBreaks = [](const std::string& line) {
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            throw EIdHTTPRequestRefused("Request refused: a line holds CR, LF or NUL: \"" +
                                        ShownText(line) + "\"");
    };
    refuseBreaks(requestLine);
    for (int i = 0; i < request.HeaderLines.Count(); ++i) refuseBreaks(request.HeaderLines[i]);
    TIdIOHandler& io = *connection_.IOHandler();
    io.OpenOutputBuffer();
    try {
        io.WriteLine(requestLine);
        for (int i = 0; i < request.HeaderLines.Count(); ++i)
            if (!request.HeaderLines[i].empty()) io.WriteLine(request.HeaderLines[i]);
        io.WriteLine();
        io.CloseOutputBuffer();
    } catch (...) {
        io.CancelOutputBuffer();
        throw;
    }
}
