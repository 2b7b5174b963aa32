#pragma once
// The HTTP/1.1 client. One call of PerformRequest (GetToStream for a download)
// opens or reuses the connection, sends the request head, reads the status line
// and header block, decides what happens next (finish, follow a redirect, retry
// with credentials) and moves a successful body into the caller's stream. Every
// failure is raised; a normal return means the body is in the stream.

#include "http/IdAuthentication.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdURI.h"
#include "net/IdException.h"
#include "net/IdTCPClient.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TStream;
class TIdCookieManager;
class TIdCustomHTTP;
class TIdHTTPRouter;

// A request the client will not send as it stands: a line end inside a line,
// a host or port that names no place to connect to.
VYK_DECLARE_EXCEPTION(EIdHTTPRequestRefused, EIdException);

enum TIdHTTPProtocolVersion : int { pv1_0, pv1_1 };
enum TIdHTTPOption : unsigned {
    hoInProcessAuth = 1,
    hoKeepOrigProtocol = 2,
    hoForceEncodeParams = 4
};
using TIdHTTPOptions = unsigned;
enum TIdHTTPRoute { RouteDirect, RouteSecure, RouteProxy, RouteSecureProxy };
enum TIdHTTPWhatsNext { FollowLocation, Finish, RetryAuthorized };

// Decompresses a body read whole into memory; assigned from outside, watched.
class TIdHTTPCompressor : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;
    virtual void DecompressDeflateStream(TStream& source, TStream& target) = 0;
    virtual void DecompressGZipStream(TStream& source, TStream& target) = 0;
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    // The target as the request line names it, set as the head is sent.
    std::string RequestTarget;
    std::string Verb = "GET";
    TStream* BodySource = nullptr;
    TIdHTTPRoute Route = RouteDirect;
    TIdIPVersion IPVersion = Id_IPv4;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    std::string StatusLine;
    // Parsed from StatusLine on every call; -1 when it does not parse.
    int StatusCode() const;
    TIdHTTPProtocolVersion ServerVersion = pv1_1;
    // Whether the connection was kept after this reply.
    bool KeepConnection = false;
};

class TIdHTTPProtocol {
public:
    TIdHTTPProtocol()
        : Request(std::make_unique<TIdHTTPRequest>()),
          Response(std::make_unique<TIdHTTPResponse>()) {}
    std::unique_ptr<TIdHTTPRequest> Request;
    std::unique_ptr<TIdHTTPResponse> Response;
};

class TIdCustomHTTP : public TIdTCPClientCustom {
public:
    using THeadersAvailableEvent =
        std::function<void(TIdCustomHTTP* sender, TIdHeaderList& headers, bool& continueRequest)>;
    using TRedirectEvent =
        std::function<void(TIdCustomHTTP* sender, std::string& dest, int& numRedirect,
                           bool& handled, std::string& method)>;
    using TSelectAuthorizationEvent = std::function<void(
        TIdCustomHTTP* sender, TIdAuthenticationFactory& kind, const TIdHeaderList& authInfo)>;
    using TAuthorizationEvent = std::function<void(
        TIdCustomHTTP* sender, TIdAuthentication& authentication, bool& handled)>;

    explicit TIdCustomHTTP(TIdBaseComponent* owner = nullptr);
    ~TIdCustomHTTP() override;

    void GetToStream(const std::string& url, TStream& stream);
    // The request loop; codes in ignoredCodes fail nothing (their body is dropped).
    virtual void PerformRequest(const std::string& verb, const std::string& url, TStream* source,
                                TStream* sink, const std::vector<int>& ignoredCodes = {});

    TIdHTTPRequest& Request() { return *protocol_->Request; }
    // Copies the other request's fields into the client's own request.
    void SetRequest(const TIdHTTPRequest& source);
    TIdHTTPResponse& Response() { return *protocol_->Response; }
    TIdProxyConnectionInfo& ProxyParams() { return proxyParams_; }
    TIdCookieManager* CookieManager() const { return cookieManager_; }
    // Assigning another store frees one the client made itself.
    void SetCookieManager(TIdCookieManager* manager);
    bool OwnsCookieManager() const { return static_cast<bool>(ownedCookieManager_); }
    TIdHTTPCompressor* Compressor() const { return compressor_; }
    void SetCompressor(TIdHTTPCompressor* compressor);

    bool AllowCookies = true;
    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    TIdHTTPOptions HTTPOptions = hoForceEncodeParams;
    int MaxAuthRetries = 3;
    int HeaderLineLimit = 255;
    TIdURI TargetURI;
    int RedirectCounter = 0;
    int AuthAttempts = 0;
    int ProxyAuthAttempts = 0;

    THeadersAvailableEvent OnHeadersAvailable;
    TRedirectEvent OnRedirect;
    TSelectAuthorizationEvent OnSelectAuthorization;
    TSelectAuthorizationEvent OnSelectProxyAuthorization;
    TAuthorizationEvent OnAuthorization;
    TAuthorizationEvent OnProxyAuthorization;

protected:
    virtual bool AuthorizationDecision();
    virtual bool ProxyAuthorizationDecision();
    // The handler gets the client's redirect count itself: lowering it allows more.
    virtual bool RedirectDecision(std::string& location, std::string& verb, int& redirectCount,
                                  bool handled);
    void Notification(TIdBaseComponent* component) override;
    void DoOnDisconnected() override;

private:
    // Sends the request and reads the reply's head; a kept connection that the
    // server closed before any byte of a reply is replaced once by a new one.
    void Exchange();
    void SendRequest();
    bool MayRetryOnNewConnection();
    // Whether the open connection may carry the next request, after this reply.
    bool MayKeepConnection();
    void ReadResponseHead();
    void CollectCookies();
    // reference: where a redirect that is followed goes next.
    TIdHTTPWhatsNext DecideNextStep(const std::vector<int>& ignoredCodes, TStream* sink,
                                    std::string& reference);
    TIdHTTPWhatsNext DecideRedirect(const std::vector<int>& ignoredCodes, std::string& reference);
    // Moves the body into target by chunks, by length or until the peer closes.
    void ReadBody(TStream& target);
    // Reads the body into a bounded stream and throws it away.
    void DrainBody();
    // Reads the body into memory and raises EIdHTTPProtocolException unless ignored.
    void FailUnlessIgnored(const std::vector<int>& ignoredCodes);
    void DrainRedirectBody();

    std::unique_ptr<TIdHTTPProtocol> protocol_;
    TIdProxyConnectionInfo proxyParams_;
    std::unique_ptr<TIdHTTPRouter> router_;
    TIdCookieManager* cookieManager_ = nullptr;
    std::unique_ptr<TIdCookieManager> ownedCookieManager_;
    TIdHTTPCompressor* compressor_ = nullptr;
    bool stoppedByHeaderHandler_ = false;
    // The current request follows a redirect.
    bool followingRedirect_ = false;
};

class TIdHTTP : public TIdCustomHTTP {
public:
    using TIdCustomHTTP::TIdCustomHTTP;
};
