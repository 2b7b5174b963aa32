#pragma once
// Where a request goes and what its head says: the target resolved from the
// caller's URL or a Location against the one before, the route to it (direct,
// TLS, through a proxy or a proxy's tunnel), the connection made or kept for
// that route, and the request head written on it.

#include "http/IdHTTPHeaderInfo.h"
#include "http/IdURI.h"

#include <string>

class TIdTCPClientCustom;
class TIdTCPConnection;
class TIdCookieManager;
class TIdHTTPRequest;
class TIdHTTPResponse;
enum TIdHTTPProtocolVersion : int;

// Whether the connection is open, after a look for the peer's close.
bool ConnectionOpen(TIdTCPConnection& connection);

// Blanks, other control bytes and bytes above 127 as %XX; CR, LF and NUL are
// left for the refusal when the head is sent.
std::string EncodedTarget(const std::string& target);

class TIdHTTPRouter {
public:
    TIdHTTPRouter(TIdTCPClientCustom& connection, TIdProxyConnectionInfo& proxy)
        : connection_(connection), proxy_(proxy) {}

    // A new request: its credentials belong to the first host it goes to.
    void Begin() { credentialsAuthority_.clear(); }
    // Resolves reference against target, the previous request's target, and
    // sets the request's Host, credentials and address family for it.
    void Resolve(const std::string& reference, TIdURI& target, TIdHTTPRequest& request,
                 TIdHTTPProtocolVersion version);
    // Chooses the route to target, closes a connection made for another,
    // connects unless one is kept, and opens a proxy's tunnel to target.
    void Open(const TIdURI& target, TIdHTTPRequest& request, int headerLineLimit);
    // The request line and headers; no line may hold CR, LF or NUL.
    void SendHead(const TIdURI& target, TIdHTTPRequest& request, TIdHTTPProtocolVersion version,
                  bool compressed, TIdCookieManager* cookies);
    // Whether the open connection may carry the next request after response,
    // whose ServerVersion it sets from the status line.
    bool MayKeep(TIdHTTPResponse& response, TIdHTTPProtocolVersion version);
    // The request went out on a connection kept from an earlier one.
    bool Reused() const { return reused_; }

private:
    void OpenTunnel(const TIdURI& target, const std::string& userAgent, int headerLineLimit);
    void Connect(TIdIPVersion family);

    TIdTCPClientCustom& connection_;
    TIdProxyConnectionInfo& proxy_;
    bool reused_ = false;
    // Host and port the request's credentials were given for, as "host:port".
    std::string credentialsAuthority_;
    // The route the open connection was made for (the tunnel's host with it).
    std::string connectedRoute_;
    // The request's target is "*" (OPTIONS of the server as a whole).
    bool asterisk_ = false;
};
