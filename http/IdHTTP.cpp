#include "http/IdHTTP.h"

#include "host/Stream.h"
#include "http/IdCappedStream.h"
#include "http/IdCookieManager.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSecure.h"
#include "net/IdIOHandlerSocket.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr int kRedirectDrainTimeout = 4000;
// Trailer lines after the last chunk are read up to this many.
constexpr int kMaxTrailerLines = 255;
// "100 Continue" replies accepted before the real one, as redirects are bounded.
constexpr int kMaxInterimReplies = 20;
// Chunks up to this size are gathered before they are written.
constexpr std::int64_t kGatherLimit = 64 * 1024;

bool Contains(const std::vector<int>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool ContainsText(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

namespace {

// Blanks, other control bytes and bytes above 127 stand in a request target
// as %XX, as a server reads the words of the request line apart by blanks.
// CR, LF and NUL are left for the refusal when the request is sent.
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

// A line that does not arrive within the read time-out is a failed read, not an
// empty line: an empty status or header line would be taken for a reply.
std::string ReadHttpLine(TIdIOHandler& io) {
    std::string line = io.ReadLine();
    if (io.LineTimedOut) throw EIdReadTimeout("Read Timeout");
    return line;
}

// The code of a status line: the word after the first blank, -1 for none.
int StatusCodeOf(const std::string& statusLine) {
    std::string rest;
    const auto space = statusLine.find(' ');
    if (space != std::string::npos) rest = Trim(statusLine.substr(space + 1));
    const std::string code = rest.substr(0, rest.find(' '));
    return TryDecimalToInt32(code).value_or(-1);
}

} // namespace

// ---------------------------------------------------------------- response

int TIdHTTPResponse::StatusCode() const { return StatusCodeOf(StatusLine); }

std::int64_t TIdHTTPResponse::ReadChunkSize() {
    const std::string line = ReadHttpLine(*client_.IOHandler());
    // The size ends at the first ";": extensions after it are ignored, and
    // blanks may stand around it, but other bytes there are a framing the
    // server did not mean ("1a x" is no size of 0x1a).
    const std::string digits = Trim(line.substr(0, line.find(';')));
    std::uint64_t size = 0;
    bool valid = !digits.empty();
    for (char c : digits) {
        const int d = HexDigit(c);
        // Checked before it grows, so that no size wraps round to a small one.
        const auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (d < 0 || size > (largest - d) / 16) {
            valid = false;
            break;
        }
        size = size * 16 + static_cast<std::uint64_t>(d);
    }
    if (!valid) throw EIdException("Invalid chunk size line in response: \"" + ShownText(line.substr(0, 40)) + "\"");
    return static_cast<std::int64_t>(size);
}

// Chunks up to kGatherLimit bytes are gathered and reach the target in pieces
// of about that size: a write for each of a million one-byte chunks would cost
// a system call each. What was gathered is written also when the body fails,
// so the target holds every byte that arrived.
void TIdHTTPResponse::ReadChunks(TStream& target) {
    TIdIOHandler& io = *client_.IOHandler();
    TMemoryStream gathered;
    // Emptied also when the write fails, so that no byte is written twice.
    const auto flush = [&] {
        if (gathered.Size() == 0) return;
        try {
            target.WriteBuffer(gathered.Bytes().data(), gathered.Size());
        } catch (...) {
            gathered.Clear();
            throw;
        }
        gathered.Clear();
    };
    try {
        for (std::int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
            if (size > kGatherLimit) flush();
            io.ReadIntoStream(size > kGatherLimit ? target : gathered, size, false);
            if (gathered.Size() >= kGatherLimit) flush();
            // Anything before the line end means the size and the data disagree.
            const std::string end = ReadHttpLine(io);
            if (!end.empty())
                throw EIdException("Chunk data longer than its size line in response: \"" +
                                   ShownText(end.substr(0, 40)) + "\"");
        }
        flush();
        // The body ends here, also in a stream that held more before.
        if (target.Size() > target.Position()) target.SetSize(target.Position());
    } catch (...) {
        try {
            flush();
        } catch (...) {
        }
        throw;
    }
    // Trailer lines up to the empty line; left unread they would be taken
    // for the next reply on a kept connection.
    int trailers = 0;
    while (!ReadHttpLine(io).empty())
        if (++trailers > kMaxTrailerLines)
            throw EIdException(
                Format("Response has more than %d trailer lines.", kMaxTrailerLines));
}

void TIdHTTPResponse::ReadBody() {
    if (!BodySink) return;
    TIdIOHandler& io = *client_.IOHandler();
    TIdHTTPCompressor* compressor = client_.Compressor();
    const bool deflate = compressor && ContentEncoding == "deflate";
    const bool gzip = compressor && ContentEncoding == "gzip";
    std::unique_ptr<TMemoryStream> compressed;
    if (deflate || gzip) compressed = std::make_unique<TMemoryStream>();
    TStream& target = compressed ? *compressed : *BodySink;

    if (ChunkedTransfer()) {
        client_.NotifyStatus(hsStatusText, {"Chunk Started"});
        ReadChunks(target);
    } else if (ContentLength() > 0) {
        io.ReadIntoStream(target, ContentLength(), false);
    } else if (!ContentLengthKnown()) {
        io.ReadIntoStream(target, -1, true);
        // Over TLS only the peer's close_notify says that the body is whole;
        // a bare close may be anyone's cut.
        if (io.ClosedWithoutNotify())
            throw EIdTLSTruncated("The connection ended without the server's TLS close_notify: the body may be cut short.");
    }

    if (compressed) {
        compressed->SetPosition(0);
        if (deflate) compressor->DecompressDeflateStream(*compressed, *BodySink);
        else compressor->DecompressGZipStream(*compressed, *BodySink);
    }
}

void TIdHTTPResponse::DrainBody() {
    TIdCappedStream discard;
    TStream* previous = BodySink;
    BodySink = &discard;
    try {
        ReadBody();
    } catch (...) {
        BodySink = previous;
        throw;
    }
    BodySink = previous;
}

bool TIdHTTPResponse::ComputeKeepConnection() {
    if (StatusLine.size() >= 8) {
        const std::string version = StatusLine.substr(5, 3);
        if (version == "1.0") ServerVersion = pv1_0;
        else if (version == "1.1") ServerVersion = pv1_1;
    }
    bool keep = client_.ConnectionOpen();
    if (keep) {
        const std::string connection = Trim(Connection);
        const std::string proxyConnection = Trim(ProxyConnection);
        if (client_.ProtocolVersion == pv1_0)
            keep = TextIsSame(connection, "KEEP-ALIVE") || TextIsSame(proxyConnection, "KEEP-ALIVE");
        else
            keep = !(TextIsSame(connection, "CLOSE") || TextIsSame(proxyConnection, "CLOSE"));
    }
    // Bytes beyond a complete reply would be read as the next status line.
    TIdIOHandler* io = client_.IOHandler();
    if (keep && io && io->InputQueue() && io->InputQueue()->Size() > 0) keep = false;
    if (client_.stoppedByHeaderHandler_) keep = false;
    KeepConnection = keep;
    return keep;
}

// ---------------------------------------------------------------- client

TIdCustomHTTP::TIdCustomHTTP(TIdBaseComponent* owner)
    : TIdTCPClientCustom(owner), protocol_(std::make_unique<TIdHTTPProtocol>(*this)) {}

TIdCustomHTTP::~TIdCustomHTTP() {
    // Close while the request and response still exist; the disconnect hook uses them.
    try {
        CloseConnection();
    } catch (...) {
    }
    SetCompressor(nullptr);
    SetCookieManager(nullptr);
}

void TIdCustomHTTP::Notification(TIdBaseComponent* component) {
    if (component == compressor_) compressor_ = nullptr;
    if (component == cookieManager_ && !ownedCookieManager_) cookieManager_ = nullptr;
    TIdTCPClientCustom::Notification(component);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
    if (manager == cookieManager_) return;
    if (cookieManager_ && !ownedCookieManager_) cookieManager_->RemoveFreeNotification(this);
    ownedCookieManager_.reset();
    cookieManager_ = manager;
    if (cookieManager_) cookieManager_->FreeNotification(this);
}

void TIdCustomHTTP::SetCompressor(TIdHTTPCompressor* compressor) {
    if (compressor_) compressor_->RemoveFreeNotification(this);
    compressor_ = compressor;
    if (compressor_) compressor_->FreeNotification(this);
}

bool TIdCustomHTTP::ConnectionOpen() {
    TIdIOHandler* io = IOHandler();
    if (!io || !io->HandlerOpen) return false;
    io->DetectClosed(false, false);
    return io->HandlerOpen;
}

void TIdCustomHTTP::SetRequest(const TIdHTTPRequest& source) {
    TIdHTTPRequest& request = Request();
    request.Assign(source);
    request.RequestTarget = source.RequestTarget;
    request.Verb = source.Verb;
    request.BodySource = source.BodySource;
    request.Route = source.Route;
    request.IPVersion = source.IPVersion;
}

void TIdCustomHTTP::GetToStream(const std::string& url, TStream& stream) {
    PerformRequest("GET", url, nullptr, &stream);
}

void TIdCustomHTTP::PerformRequest(const std::string& verb, const std::string& url, TStream* source, TStream* sink,
                                   const std::vector<int>& ignoredCodes) {
    StartTransfer();
    // The bounds are this request's: they end with it, however it ends.
    const std::unique_ptr<TIdCustomHTTP, void (*)(TIdCustomHTTP*)> bounded(
        this, [](TIdCustomHTTP* http) { http->EndTransfer(); });
    RedirectCounter = 0;
    AuthAttempts = 0;
    ProxyAuthAttempts = 0;
    stoppedByHeaderHandler_ = false;
    credentialsAuthority_.clear();
    std::int64_t startPosition = 0;
    if (sink) {
        startPosition = sink->Position();
        CheckRange(startPosition, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
    }
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    request.RequestTarget = url;
    request.Verb = verb;
    request.BodySource = source;
    response.BodySink = sink;

    // Whatever the outcome, a connection that may not be kept is closed.
    auto settle = [&] {
        if (!response.ComputeKeepConnection()) CloseConnection();
    };
    try {
        followingRedirect_ = false;
        while (true) {
            const bool fromSecure = followingRedirect_ && TextIsSame(TargetURI.Protocol, "https");
            PrepareTarget();
            // What was asked for over TLS does not come back in the clear.
            if (fromSecure && !TextIsSame(TargetURI.Protocol, "https"))
                throw EIdHTTPRequestRefused("Request refused: a redirect from https to http (" +
                                            ShownText(TargetURI.ComposeURI(false, false)) + ")");
            Exchange();
            // Every 1xx but 101 is interim; 101 would switch protocols, which this client does not.
            for (int interim = 1; response.StatusCode() / 100 == 1 && response.StatusCode() != 101; ++interim) {
                if (interim > kMaxInterimReplies)
                    throw EIdException(
                        Format("Response has more than %d interim replies.", kMaxInterimReplies));
                ReadResponseHead();
            }
            const TIdHTTPWhatsNext next = DecideNextStep(ignoredCodes);
            if (next == Finish) break;
            followingRedirect_ = next == FollowLocation;
            if (next == FollowLocation) {
                if (sink) {
                    sink->SetPosition(startPosition);
                    sink->SetSize(startPosition);
                }
                AuthAttempts = 0;
                ProxyAuthAttempts = 0;
            } else {
                // Credentials go again to the URL that asked for them.
                request.RequestTarget = TargetURI.ComposeURI(false, false);
            }
        }
    } catch (const EIdHTTPProtocolException&) {
        // The error reply was read whole; the connection is where it should be.
        try {
            settle();
        } catch (...) {
        }
        throw;
    } catch (...) {
        // Anything else may have left part of a reply unread: never reuse it.
        try {
            CloseConnection();
        } catch (...) {
        }
        throw;
    }
    // The body is whole: looking at the connection is no longer the transfer's.
    EndTransfer();
    settle();
}

void TIdCustomHTTP::Exchange() {
    try {
        Response().StatusLine.clear();
        OpenRoute();
        ReadResponseHead();
        return;
    } catch (const EIdConnClosedGracefully&) {
        if (!MayRetryOnNewConnection()) throw;
    } catch (const EIdSocketError& e) {
        // A reset: Wine and some stacks report it as the close above.
        if (e.ErrorNumber() != 10054 || !MayRetryOnNewConnection()) throw;
    }
    CloseConnection();
    if (IOHandler() && IOHandler()->InputQueue()) IOHandler()->InputQueue()->DiscardAll();
    OpenRoute();
    ReadResponseHead();
}

bool TIdCustomHTTP::MayRetryOnNewConnection() {
    // Only what was not answered at all, and can be sent again as it was.
    TIdIOHandler* io = IOHandler();
    const bool nothingArrived = Response().StatusLine.empty() && (!io || !io->InputQueue() || io->InputQueue()->Size() == 0);
    const std::string& verb = Request().Verb;
    const bool repeatable = verb == "GET" || verb == "HEAD" || verb == "OPTIONS" || verb == "TRACE";
    return reusedConnection_ && nothingArrived && repeatable && !Request().BodySource;
}

void TIdCustomHTTP::PrepareTarget() {
    TIdHTTPRequest& request = Request();
    // "//host/path" names another host on the same scheme, not a path.
    const bool networkPath = request.RequestTarget.compare(0, 2, "//") == 0 && !TargetURI.Protocol.empty();
    const TIdURI location(networkPath ? TargetURI.Protocol + ":" + request.RequestTarget : request.RequestTarget);
    if (!location.Username.empty()) {
        request.Username = PercentDecoded(location.Username);
        request.Password = PercentDecoded(location.Password);
    }
    TargetURI.ResolvePathAndQuery(location);
    if (!location.Host.empty()) TargetURI.Host = location.Host;
    if (!location.Protocol.empty()) TargetURI.Protocol = LowerCase(location.Protocol);
    else TargetURI.Protocol = TextIsSame(TargetURI.Protocol, "https") ? "https" : "http";
    // Another scheme (ftp:, a mistyped one) is not fetched as if it were http.
    if (!TextIsSame(TargetURI.Protocol, "http") && !TextIsSame(TargetURI.Protocol, "https"))
        throw EIdUnknownProtocol("Unknown Protocol");
    if (!location.Port.empty()) TargetURI.Port = location.Port;
    else if (TextIsSame(location.Protocol, "http")) TargetURI.Port = "80";
    else if (TextIsSame(location.Protocol, "https")) TargetURI.Port = "443";
    else if (TargetURI.Port.empty()) throw EIdUnknownProtocol("Unknown Protocol");
    // No host name holds a blank or a control byte; sent on, such a name
    // would split the request line or the Host header into other words.
    for (unsigned char c : TargetURI.Host)
        if (c <= ' ' || c == 0x7F)
            throw EIdHTTPRequestRefused("Request refused: the host holds a blank or control byte: \"" +
                                        ShownText(TargetURI.Host) + "\"");
    // A port that is no number from 1 to 65535 is not taken for 80.
    const auto port = TargetURI.Port.find_first_not_of("0123456789") == std::string::npos
                          ? TryDecimalToInt32(TargetURI.Port) : std::nullopt;
    if (!port || *port < 1 || *port > 65535)
        throw EIdHTTPRequestRefused("Request refused: invalid port: \"" + ShownText(TargetURI.Port) + "\"");
    TargetURI.Port = std::to_string(*port); // "081" is 81 in the Host header too

    // Credentials go only to the host and port they were given for: a
    // redirect elsewhere would hand them to whoever it names.
    const std::string authority = LowerCase(TargetURI.Host) + ":" + TargetURI.Port;
    if (!location.Username.empty() || credentialsAuthority_.empty()) {
        credentialsAuthority_ = authority;
    } else if (authority != credentialsAuthority_) {
        request.Username.clear();
        request.Password.clear();
        request.BasicAuthentication = false;
        request.Authentication.reset();
    }
    TargetURI.Username = request.Username;
    TargetURI.Password = request.Password;

    request.RequestTarget = EncodedTarget(TargetURI.DirPath + TargetURI.DocName + TargetURI.Query);
    if (request.RequestTarget.empty() || request.RequestTarget[0] != '/') request.RequestTarget.insert(0, "/");
    if (request.Verb == "OPTIONS" && TextIsSame(location.DocName, "*")) request.RequestTarget = location.DocName;
    // A relative reference names no host, so it keeps the address family of the target.
    if (!location.Host.empty()) TargetURI.IPVersion = location.IPVersion;
    // Brackets hold an IPv6 address and nothing else (a zone after "%" aside).
    if (TargetURI.IPVersion == Id_IPv6 && CanonicalIPv6Text(TargetURI.Host.substr(0, TargetURI.Host.find('%'))).empty())
        throw EIdInvalidIPv6Address(ShownText(TargetURI.Host) + " is not a valid IPv6 address");
    // Outside brackets a colon ends a host: a host that holds one names none.
    if (TargetURI.IPVersion != Id_IPv6 && TargetURI.Host.find(':') != std::string::npos)
        throw EIdHTTPRequestRefused("Request refused: the host holds a colon: \"" + ShownText(TargetURI.Host) + "\"");
    request.IPVersion = TargetURI.IPVersion;

    const std::string& verb = request.Verb;
    if ((verb == "TRACE" || verb == "PUT" || verb == "OPTIONS" || verb == "DELETE") && ProtocolVersion != pv1_1)
        throw EIdException("Request method requires HTTP version 1.1");
    request.SetContentLength(request.BodySource ? request.BodySource->Size() : -1);

    // Servers require an IPv6 literal in brackets.
    const std::string host = TargetURI.IPVersion == Id_IPv6 ? "[" + TargetURI.Host + "]" : TargetURI.Host;
    const std::string defaultPort = TextIsSame(TargetURI.Protocol, "https") ? "443" : "80";
    request.Host = TargetURI.Port != defaultPort ? host + ":" + TargetURI.Port : host;
}

void TIdCustomHTTP::OpenRoute() {
    TIdHTTPRequest& request = Request();
    std::string host;
    int port;
    TIdHTTPRoute route;
    TIdIPVersion family = TargetURI.IPVersion;
    const bool secure = TextIsSame(TargetURI.Protocol, "HTTPS");
    // https needs a secure handler attached; without one it fails as ever.
    auto* secureHandler = dynamic_cast<TIdIOHandlerSecure*>(IOHandler());
    const auto refuseWithoutSecureHandler = [&] {
        if (secure && !secureHandler) throw EIdIOHandlerPropInvalid("IOHandler value is not valid");
    };
    if (proxyParams_.ProxyServer().empty()) {
        if (ConnectionOpen() && Socket() && Socket()->Binding() &&
            Socket()->Binding()->IPVersion() != TargetURI.IPVersion)
            CloseConnection();
        host = TargetURI.Host;
        port = TryTextToInt32(TargetURI.Port).value_or(80);
        if ((!TextIsSame(Host(), host) || Port() != port) && ConnectionOpen()) CloseConnection();
        refuseWithoutSecureHandler();
        route = secure ? RouteSecure : RouteDirect;
    } else {
        host = proxyParams_.ProxyServer();
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        port = proxyParams_.ProxyPort();
        // The proxy is reached in its own family, whatever the target's.
        family = host.find(':') != std::string::npos ? Id_IPv6 : Id_IPv4;
        if ((!TextIsSame(Host(), host) || Port() != port) && ConnectionOpen()) CloseConnection();
        refuseWithoutSecureHandler();
        route = secure ? RouteSecureProxy : RouteProxy;
    }
    // A plain connection is no secure one, and a tunnel leads to one host only.
    const std::string routeKey =
        std::to_string(route) + (route == RouteSecureProxy ? " " + LowerCase(TargetURI.Host) + ":" + TargetURI.Port : "");
    if (ConnectionOpen() && routeKey != connectedRoute_) CloseConnection();
    if (secureHandler) secureHandler->UseTLS = route == RouteSecure;
    SetHost(host);
    SetPort(port);
    request.Route = route;
    ApplyRouteHeaders();
    EnsureConnected(family);
    if (!reusedConnection_ && route == RouteSecureProxy) OpenTunnel();
    connectedRoute_ = routeKey;
    SendRequestHead();
    if (request.Verb == "POST" || request.Verb == "PUT") {
        if (request.BodySource) IOHandler()->WriteFromStream(*request.BodySource, 0, false);
    }
}

void TIdCustomHTTP::OpenTunnel() {
    TIdHTTPRequest& request = Request();
    TIdIOHandler& io = *IOHandler();
    const std::string authority =
        (TargetURI.IPVersion == Id_IPv6 ? "[" + TargetURI.Host + "]" : TargetURI.Host) + ":" + TargetURI.Port;
    TIdHeaderList headers;
    headers.SetHeader("Host", authority);
    if (!request.UserAgent.empty()) headers.SetHeader("User-Agent", request.UserAgent);
    headers.SetHeader("Proxy-Connection", "keep-alive");
    headers.SetHeader("Pragma", "no-cache");
    proxyParams_.SetHeaders(headers);
    std::string head = "CONNECT " + authority + " HTTP/1.1\r\n";
    for (int i = 0; i < headers.Count(); ++i)
        if (!headers[i].empty()) head += headers[i] + "\r\n";
    io.WriteText(head + "\r\n");

    // Only a 2xx opens the tunnel; the proxy's refusal is its status line.
    const std::string status = ReadHttpLine(io);
    int lines = 0;
    for (std::string line = ReadHttpLine(io); !line.empty(); line = ReadHttpLine(io))
        if (++lines > HeaderLineLimit)
            throw EIdException(Format("Response has more than %d header lines.", HeaderLineLimit));
    const int code = status.compare(0, 7, "HTTP/1.") == 0 ? StatusCodeOf(status) : -1;
    if (code / 100 != 2) {
        CloseConnection();
        throw EIdHTTPProtocolException(code, ShownText(status.empty() ? "no reply to CONNECT" : status), {});
    }
    // Bytes before the handshake would belong to no one: the server speaks only after it.
    if (io.InputQueue()->Size() > 0) {
        CloseConnection();
        throw EIdException("The proxy sent bytes after its reply to CONNECT.");
    }
    dynamic_cast<TIdIOHandlerSecure&>(io).StartTLS(TargetURI.Host);
}

void TIdCustomHTTP::ApplyRouteHeaders() {
    TIdHTTPRequest& request = Request();
    switch (request.Route) {
    case RouteDirect:
        if (ProtocolVersion == pv1_0 && request.Connection.empty()) request.Connection = "keep-alive";
        break;
    case RouteProxy:
        if (ProtocolVersion == pv1_0 && request.Connection.empty()) request.ProxyConnection = "keep-alive";
        request.RequestTarget = TargetURI.ComposeURI(false, false);
        if (const auto path = request.RequestTarget.find('/', request.RequestTarget.find("://") + 3);
            path != std::string::npos)
            request.RequestTarget.replace(path, std::string::npos, EncodedTarget(request.RequestTarget.substr(path)));
        break;
    case RouteSecure:
    case RouteSecureProxy:
        request.Connection.clear();
        break;
    }
    if (compressor_ && !ContainsText(request.AcceptEncoding, "deflate") && !ContainsText(request.AcceptEncoding, "gzip"))
        request.AcceptEncoding = "deflate, gzip, ";
    if (!ContainsText(request.AcceptEncoding, "identity")) request.AcceptEncoding += "identity";
}

void TIdCustomHTTP::EnsureConnected(TIdIPVersion family) {
    // A kept connection that turned readable while idle is closed by the
    // server or carries bytes that belong to no request: either way the next
    // reply would not come from it.
    if (ConnectionOpen()) IOHandler()->PollData(0);
    if (!Response().ComputeKeepConnection()) CloseConnection();
    CheckPeerClosed(false);
    reusedConnection_ = ConnectionOpen();
    if (!ConnectionOpen()) {
        // Bytes a closed connection left queued belong to no request of ours;
        // they would make the client look connected and fail the next send.
        if (IOHandler() && IOHandler()->InputQueue()) IOHandler()->InputQueue()->DiscardAll();
        SetIPVersion(family);
        EstablishConnection();
    }
}

void TIdCustomHTTP::SendRequestHead() {
    TIdHTTPRequest& request = Request();
    // A long Cookie or Authorization goes out on one line: a folded request
    // line is refused by servers, or read as a header of its own.
    request.HeaderLines.SplitLongLines = false;
    request.SetHeaders();
    // Through a tunnel the proxy sees none of this: its credentials would go to the server.
    if (request.Route != RouteSecureProxy) proxyParams_.SetHeaders(request.HeaderLines);
    if (cookieManager_) {
        const bool secure = request.Route == RouteSecure || request.Route == RouteSecureProxy;
        const std::string cookies = cookieManager_->CookieText(TargetURI, secure);
        if (!cookies.empty()) request.HeaderLines.SetHeader("Cookie", cookies);
    }
    // A line end inside a line would let a Location or a caller's value add
    // headers or a second request of its own: nothing such is sent.
    const std::string requestLine =
        request.Verb + " " + request.RequestTarget + " HTTP/" + (ProtocolVersion == pv1_0 ? "1.0" : "1.1");
    const auto refuseBreaks = [](const std::string& line) {
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            throw EIdHTTPRequestRefused("Request refused: a line holds CR, LF or NUL: \"" + ShownText(line) + "\"");
    };
    refuseBreaks(requestLine);
    for (int i = 0; i < request.HeaderLines.Count(); ++i) refuseBreaks(request.HeaderLines[i]);
    TIdIOHandler& io = *IOHandler();
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

void TIdCustomHTTP::ReadResponseHead() {
    TIdHTTPResponse& response = Response();
    // Some servers send a line end more after an interim reply, or before the first.
    response.StatusLine = ReadHttpLine(*IOHandler());
    for (int blank = 1; response.StatusLine.empty(); ++blank) {
        if (blank > HeaderLineLimit)
            throw EIdException(Format("Response has more than %d empty lines before its status line.", HeaderLineLimit));
        response.StatusLine = ReadHttpLine(*IOHandler());
    }
    ReadHeaderBlock();
    response.ProcessHeaders();
    CollectCookies();
}

void TIdCustomHTTP::ReadHeaderBlock() {
    // A block cut short by the peer's close is an incomplete response: the
    // connection's error passes on rather than ending the block quietly.
    TIdIOHandler& io = *IOHandler();
    TIdHeaderList& lines = Response().HeaderLines;
    lines.Clear();
    std::string line = ReadHttpLine(io);
    while (!line.empty() && lines.Count() < HeaderLineLimit) {
        lines.Add(line);
        line = ReadHttpLine(io);
    }
    // Lines past the limit are never taken for the body. Dropping them could
    // lose the lines that frame the body, so such a reply is refused.
    if (!line.empty())
        throw EIdException(Format("Response has more than %d header lines.", HeaderLineLimit));
}

void TIdCustomHTTP::CollectCookies() {
    if (!cookieManager_ && AllowCookies) {
        ownedCookieManager_ = std::make_unique<TIdCookieManager>();
        cookieManager_ = ownedCookieManager_.get();
    }
    if (!cookieManager_) return;
    TIdHeaderList values;
    Response().HeaderLines.CollectValues("Set-cookie", &values);
    const bool secure = TextIsSame(TargetURI.Protocol, "https");
    for (int i = 0; i < values.Count(); ++i)
        cookieManager_->AddServerCookie(values[i], TargetURI.Host, secure);
    values.Clear();
    Response().HeaderLines.CollectValues("Set-cookie2", &values);
    for (int i = 0; i < values.Count(); ++i)
        cookieManager_->AddServerCookie2(values[i], TargetURI.Host, secure);
}

bool TIdCustomHTTP::RedirectDecision(std::string& location, std::string& verb, int& redirectCount, bool handled) {
    if (OnRedirect) OnRedirect(this, location, redirectCount, handled, verb);
    return handled;
}

void TIdCustomHTTP::DrainRedirectBody() {
    if (!ConnectionOpen()) return;
    TIdIOHandler& io = *IOHandler();
    const std::int32_t previous = io.ReadTimeout;
    io.ReadTimeout = kRedirectDrainTimeout;
    try {
        Response().DrainBody();
    } catch (const EIdTransferLimit&) {
        io.ReadTimeout = previous;
        CloseConnection();
        throw;
    } catch (...) {
        // What is left of the body would be read as the next reply.
        io.ReadTimeout = previous;
        CloseConnection();
        return;
    }
    io.ReadTimeout = previous;
}

TIdHTTPWhatsNext TIdCustomHTTP::DecideNextStep(const std::vector<int>& ignoredCodes) {
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    if (OnHeadersAvailable) {
        bool continueRequest = true;
        OnHeadersAvailable(this, response.HeaderLines, continueRequest);
        if (!continueRequest) {
            stoppedByHeaderHandler_ = true;
            return Finish;
        }
    }
    const int code = response.StatusCode();
    if ((code / 100 == 3 && code != 304) || !response.Location.empty()) {
        ++RedirectCounter;
        std::string destination = response.Location;
        std::string verb = request.Verb;
        TIdHTTPWhatsNext next = Finish;
        bool bodyRead = false;
        if (HandleRedirects && RedirectCounter < RedirectMaximum) {
            if (!RedirectDecision(destination, verb, RedirectCounter, true)) {
                FailUnlessIgnored(ignoredCodes);
                bodyRead = true;
            } else {
                next = FollowLocation;
                request.RequestTarget = destination;
                if (code == 302 || code == 303) {
                    request.BodySource = nullptr;
                    request.Verb = "GET";
                } else {
                    request.Verb = verb;
                }
            }
        } else if (!RedirectDecision(destination, verb, RedirectCounter, HandleRedirects)) {
            FailUnlessIgnored(ignoredCodes);
            bodyRead = true;
        } else {
            response.Location = destination;
        }
        // An ignored failure has read the body already.
        if (!bodyRead) DrainRedirectBody();
        return next;
    }
    bool retry = false;
    // A part of a document is no document: 206 counts only when a range was asked for.
    const bool unaskedPart =
        code == 206 && request.Range.empty() && request.CustomHeaders.FindHeader("Range") < 0;
    if (code / 100 != 2 || unaskedPart) {
        if (code == 401 || code == 407) {
            const bool proxy = code == 407;
            const bool accepted = proxy ? ProxyAuthAttempts < MaxAuthRetries && ProxyAuthorizationDecision()
                                        : AuthAttempts < MaxAuthRetries && AuthorizationDecision();
            retry = accepted && (HTTPOptions & hoInProcessAuth);
            if (!accepted) {
                auto& authentication = proxy ? proxyParams_.Authentication : request.Authentication;
                if (authentication) authentication->Reset();
            }
            // A challenge that is not answered with credentials is a failed
            // response, never a document for the caller's stream.
            if (!retry) {
                FailUnlessIgnored(ignoredCodes);
                return Finish;
            }
        } else {
            FailUnlessIgnored(ignoredCodes);
            return Finish;
        }
    }
    if (retry) {
        response.DrainBody();
        return RetryAuthorized;
    }
    if (code != 204) response.ReadBody();
    return Finish;
}

void TIdCustomHTTP::FailUnlessIgnored(const std::vector<int>& ignoredCodes) {
    TIdHTTPResponse& response = Response();
    TIdCappedStream body;
    TStream* previous = response.BodySink;
    response.BodySink = &body;
    try {
        response.ReadBody();
    } catch (const EIdConnClosedGracefully&) {
        // The status is known; a cut-short error body does not hide it.
    } catch (const EIdTLSTruncated&) {
        // Nor one that ended without close_notify.
    } catch (...) {
        response.BodySink = previous;
        throw;
    }
    response.BodySink = previous;
    const int code = response.StatusCode();
    if (Contains(ignoredCodes, code)) return;
    // The status line is the message: never one that shows nothing.
    const std::string shown = ShownText(response.StatusLine);
    throw EIdHTTPProtocolException(
        code, Trim(shown).empty() ? "Invalid status line in response: \"" + shown + "\"" : shown, body.DataString());
}

namespace {

// Runs a scheme until it can send, fails, or needs credentials nobody gives.
bool RunAuthentication(TIdCustomHTTP* client, TIdAuthentication& scheme,
                       const TIdCustomHTTP::TAuthorizationEvent& onAuthorization, std::string& username,
                       std::string& password, bool& basic) {
    for (int round = 0; round < 16; ++round) {
        switch (scheme.Next()) {
        case wnDoRequest: return true;
        case wnFail: return false;
        case wnAskTheProgram: {
            // Without a handler nobody can supply credentials: stop instead of asking forever.
            if (!onAuthorization) return false;
            bool handled = true;
            onAuthorization(client, scheme, handled);
            if (!handled) return false;
            basic = true;
            username = scheme.Username;
            password = scheme.Password;
            if (username.empty()) return false;
            break;
        }
        }
    }
    return false;
}

} // namespace

bool TIdCustomHTTP::AuthorizationDecision() {
    ++AuthAttempts;
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    if (!request.Authentication) {
        TIdAuthenticationFactory kind;
        for (int i = 0; i < response.WWWAuthenticate.Count() && !kind; ++i) {
            const std::string& line = response.WWWAuthenticate[i];
            kind = FindAuthClass(line.substr(0, line.find(' ')));
        }
        if (!kind) return false;
        if (OnSelectAuthorization) OnSelectAuthorization(this, kind, response.WWWAuthenticate);
        if (!kind) return false;
        request.Authentication = kind();
    }
    if (!OnAuthorization && Trim(request.Password).empty()) return false;
    TIdAuthentication& scheme = *request.Authentication;
    scheme.Username = request.Username;
    scheme.Password = request.Password;
    scheme.AuthParams = response.WWWAuthenticate;
    return RunAuthentication(this, scheme, OnAuthorization, request.Username, request.Password,
                             request.BasicAuthentication);
}

bool TIdCustomHTTP::ProxyAuthorizationDecision() {
    ++ProxyAuthAttempts;
    TIdHTTPResponse& response = Response();
    if (!proxyParams_.Authentication) {
        if (response.ProxyAuthenticate.Count() == 0) return false;
        const std::string& line = response.ProxyAuthenticate[0];
        TIdAuthenticationFactory kind = FindAuthClass(line.substr(0, line.find(' ')));
        // As for the server: no registered scheme, no question to the handler.
        if (!kind) return false;
        if (OnSelectProxyAuthorization) OnSelectProxyAuthorization(this, kind, response.ProxyAuthenticate);
        if (!kind) return false;
        proxyParams_.Authentication = kind();
    }
    if (!OnProxyAuthorization) return false;
    TIdAuthentication& scheme = *proxyParams_.Authentication;
    scheme.Username = proxyParams_.ProxyUsername;
    scheme.Password = proxyParams_.ProxyPassword;
    scheme.AuthParams = response.ProxyAuthenticate;
    return RunAuthentication(this, scheme, OnProxyAuthorization, proxyParams_.ProxyUsername,
                             proxyParams_.ProxyPassword, proxyParams_.BasicAuthentication);
}

void TIdCustomHTTP::DoOnDisconnected() {
    TIdTCPClientCustom::DoOnDisconnected();
    TIdHTTPRequest& request = Request();
    if (request.Authentication && request.Authentication->ReachedLastStep()) request.Authentication.reset();
    if (proxyParams_.Authentication && proxyParams_.Authentication->ReachedLastStep())
        proxyParams_.Authentication->Reset();
}
