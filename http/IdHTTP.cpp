#include "http/IdHTTP.h"

#include "host/ScopeExit.h"
#include "host/Stream.h"
#include "http/IdCappedStream.h"
#include "http/IdCookieManager.h"
#include "http/IdHTTPReplyReader.h"
#include "http/IdHTTPRouter.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandler.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int kRedirectDrainTimeout = 4000;
// "100 Continue" replies accepted before the real one, as redirects are bounded.
constexpr int kMaxInterimReplies = 20;

bool Contains(const std::vector<int>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

} // namespace

int TIdHTTPResponse::StatusCode() const {
    return StatusCodeOf(StatusLine);
}

// ---------------------------------------------------------------- client

TIdCustomHTTP::TIdCustomHTTP(TIdBaseComponent* owner)
    : TIdTCPClientCustom(owner), protocol_(std::make_unique<TIdHTTPProtocol>()),
      router_(std::make_unique<TIdHTTPRouter>(*this, proxyParams_)) {}

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

void TIdCustomHTTP::PerformRequest(const std::string& verb, const std::string& url, TStream* source,
                                   TStream* sink, const std::vector<int>& ignoredCodes) {
    StartTransfer();
    // The bounds are this request's: they end with it, however it ends.
    const TScopeExit bounded([this] { EndTransfer(); });
    RedirectCounter = 0;
    AuthAttempts = 0;
    ProxyAuthAttempts = 0;
    stoppedByHeaderHandler_ = false;
    router_->Begin();
    std::int64_t startPosition = 0;
    if (sink) {
        startPosition = sink->Position();
        CheckRange(startPosition, std::numeric_limits<std::int32_t>::min(),
                   std::numeric_limits<std::int32_t>::max());
    }
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    request.Verb = verb;
    request.BodySource = source;
    // The URL the next request goes to: the caller's, then a Location.
    std::string reference = url;

    // Whatever the outcome, a connection that may not be kept is closed.
    auto settle = [&] {
        if (!MayKeepConnection()) CloseConnection();
    };
    try {
        followingRedirect_ = false;
        while (true) {
            const bool fromSecure = followingRedirect_ && TextIsSame(TargetURI.Protocol, "https");
            router_->Resolve(reference, TargetURI, request, ProtocolVersion);
            // What was asked for over TLS does not come back in the clear.
            if (fromSecure && !TextIsSame(TargetURI.Protocol, "https"))
                throw EIdHTTPRequestRefused("Request refused: a redirect from https to http (" +
                                            ShownText(TargetURI.ComposeURI(false, false)) + ")");
            Exchange();
            // Every 1xx but 101 is interim; 101 would switch protocols, which this client does not.
            for (int interim = 1; response.StatusCode() / 100 == 1 && response.StatusCode() != 101;
                 ++interim) {
                if (interim > kMaxInterimReplies)
                    throw EIdException(
                        Format("Response has more than %d interim replies.", kMaxInterimReplies));
                ReadResponseHead();
            }
            const TIdHTTPWhatsNext next = DecideNextStep(ignoredCodes, sink, reference);
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
                reference = TargetURI.ComposeURI(false, false);
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
        SendRequest();
        ReadResponseHead();
        return;
    } catch (const EIdConnClosedGracefully&) {
        if (!MayRetryOnNewConnection()) throw;
    } catch (const EIdSocketError& e) {
        // A reset: Wine and some stacks report it as the close above.
        if (e.ErrorNumber() != Id_WSAECONNRESET || !MayRetryOnNewConnection()) throw;
    }
    CloseConnection();
    if (IOHandler() && IOHandler()->InputQueue()) IOHandler()->InputQueue()->DiscardAll();
    SendRequest();
    ReadResponseHead();
}

void TIdCustomHTTP::SendRequest() {
    // A kept connection that turned readable while idle is closed by the
    // server or carries bytes that belong to no request: either way the next
    // reply would not come from it.
    if (ConnectionOpen(*this)) IOHandler()->PollData(0);
    if (!MayKeepConnection()) CloseConnection();
    TIdHTTPRequest& request = Request();
    router_->Open(TargetURI, request, HeaderLineLimit);
    router_->SendHead(TargetURI, request, ProtocolVersion, compressor_ != nullptr, cookieManager_);
    if ((request.Verb == "POST" || request.Verb == "PUT") && request.BodySource)
        IOHandler()->WriteFromStream(*request.BodySource, 0, false);
}

bool TIdCustomHTTP::MayRetryOnNewConnection() {
    // Only what was not answered at all, and can be sent again as it was.
    TIdIOHandler* io = IOHandler();
    const bool nothingArrived = Response().StatusLine.empty() &&
                                (!io || !io->InputQueue() || io->InputQueue()->Size() == 0);
    const std::string& verb = Request().Verb;
    const bool repeatable = verb == "GET" || verb == "HEAD" || verb == "OPTIONS" || verb == "TRACE";
    return router_->Reused() && nothingArrived && repeatable && !Request().BodySource;
}

bool TIdCustomHTTP::MayKeepConnection() {
    TIdHTTPResponse& response = Response();
    response.KeepConnection =
        router_->MayKeep(response, ProtocolVersion) && !stoppedByHeaderHandler_;
    return response.KeepConnection;
}

void TIdCustomHTTP::ReadResponseHead() {
    TIdHTTPResponse& response = Response();
    response.StatusLine = ReadStatusLine(*IOHandler(), HeaderLineLimit);
    ReadHeaderBlock(*IOHandler(), response.HeaderLines, HeaderLineLimit);
    response.ProcessHeaders();
    CollectCookies();
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

bool TIdCustomHTTP::RedirectDecision(std::string& location, std::string& verb, int& redirectCount,
                                     bool handled) {
    if (OnRedirect) OnRedirect(this, location, redirectCount, handled, verb);
    return handled;
}

void TIdCustomHTTP::DrainRedirectBody() {
    if (!ConnectionOpen(*this)) return;
    TIdIOHandler& io = *IOHandler();
    const TScopeExit restore([&io, previous = io.ReadTimeout] { io.ReadTimeout = previous; });
    io.ReadTimeout = kRedirectDrainTimeout;
    try {
        DrainBody();
    } catch (const EIdTransferLimit&) {
        CloseConnection();
        throw;
    } catch (...) {
        // What is left of the body would be read as the next reply.
        CloseConnection();
    }
}

TIdHTTPWhatsNext TIdCustomHTTP::DecideNextStep(const std::vector<int>& ignoredCodes, TStream* sink,
                                               std::string& reference) {
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
    if ((code / 100 == 3 && code != 304) || !response.Location.empty())
        return DecideRedirect(ignoredCodes, reference);
    TIdHTTPRequest& request = Request();
    // A part of a document is no document: 206 counts only when a range was asked for.
    const bool unaskedPart =
        code == 206 && request.Range.empty() && request.CustomHeaders.FindHeader("Range") < 0;
    if (code / 100 == 2 && !unaskedPart) {
        if (code != 204 && sink) ReadBody(*sink);
        return Finish;
    }
    if (code == 401 || code == 407) {
        const bool proxy = code == 407;
        const bool accepted =
            proxy ? ProxyAuthAttempts < MaxAuthRetries && ProxyAuthorizationDecision()
                  : AuthAttempts < MaxAuthRetries && AuthorizationDecision();
        if (!accepted) {
            auto& authentication = proxy ? proxyParams_.Authentication : request.Authentication;
            if (authentication) authentication->Reset();
        }
        // A challenge that is not answered with credentials is a failed
        // response, never a document for the caller's stream.
        if (accepted && (HTTPOptions & hoInProcessAuth)) {
            DrainBody();
            return RetryAuthorized;
        }
    }
    FailUnlessIgnored(ignoredCodes);
    return Finish;
}

TIdHTTPWhatsNext TIdCustomHTTP::DecideRedirect(const std::vector<int>& ignoredCodes,
                                               std::string& reference) {
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    ++RedirectCounter;
    std::string destination = response.Location;
    std::string verb = request.Verb;
    const bool follow = HandleRedirects && RedirectCounter < RedirectMaximum;
    if (!RedirectDecision(destination, verb, RedirectCounter, HandleRedirects)) {
        // An ignored failure has read the body already.
        FailUnlessIgnored(ignoredCodes);
        return Finish;
    }
    DrainRedirectBody();
    if (!follow) {
        response.Location = destination;
        return Finish;
    }
    reference = destination;
    const int code = response.StatusCode();
    if (code == 302 || code == 303) {
        request.BodySource = nullptr;
        request.Verb = "GET";
    } else {
        request.Verb = verb;
    }
    return FollowLocation;
}

void TIdCustomHTTP::FailUnlessIgnored(const std::vector<int>& ignoredCodes) {
    TIdHTTPResponse& response = Response();
    TIdCappedStream body;
    try {
        ReadBody(body);
    } catch (const EIdConnClosedGracefully&) {
        // The status is known; a cut-short error body does not hide it.
    } catch (const EIdTLSTruncated&) {
        // Nor one that ended without close_notify.
    }
    const int code = response.StatusCode();
    if (Contains(ignoredCodes, code)) return;
    // The status line is the message: never one that shows nothing.
    const std::string shown = ShownText(response.StatusLine);
    throw EIdHTTPProtocolException(
        code, Trim(shown).empty() ? "Invalid status line in response: \"" + shown + "\"" : shown,
        body.DataString());
}

void TIdCustomHTTP::ReadBody(TStream& sink) {
    TIdHTTPResponse& response = Response();
    if (response.ChunkedTransfer()) NotifyStatus(hsStatusText, {"Chunk Started"});
    ReadResponseBody(*IOHandler(), response, compressor_, sink);
}

void TIdCustomHTTP::DrainBody() {
    TIdCappedStream discard;
    ReadBody(discard);
}

namespace {

// Runs a scheme until it can send, fails, or needs credentials nobody gives.
bool RunAuthentication(TIdCustomHTTP* client, TIdAuthentication& scheme,
                       const TIdCustomHTTP::TAuthorizationEvent& onAuthorization,
                       std::string& username, std::string& password, bool& basic) {
    for (int round = 0; round < 16; ++round) {
        switch (scheme.Next()) {
        case wnDoRequest:
            return true;
        case wnFail:
            return false;
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
        if (OnSelectProxyAuthorization)
            OnSelectProxyAuthorization(this, kind, response.ProxyAuthenticate);
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
    if (request.Authentication && request.Authentication->ReachedLastStep())
        request.Authentication.reset();
    if (proxyParams_.Authentication && proxyParams_.Authentication->ReachedLastStep())
        proxyParams_.Authentication->Reset();
}
