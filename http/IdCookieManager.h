#pragma once
// Cookies received in "Set-cookie" and "Set-cookie2" headers, kept per domain,
// and the "Cookie" header text for a later request.

#include "http/IdDateTime.h"
#include "http/IdURI.h"
#include "net/IdComponent.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

// One ";"-separated part after the cookie's own name=value: the name upper-cased,
// the value as written (empty for a flag such as "SECURE").
struct TIdCookieAttribute {
    std::string Name;
    std::string Value;
};

class TIdCookie {
public:
    virtual ~TIdCookie() = default;

    // Reads "name=value; attr=value; FLAG". Attributes not known to the kind
    // are ignored.
    void Parse(const std::string& text);
    // "name=value" as sent back in the "Cookie" header.
    std::string CookieText() const { return CookieName + "=" + Value; }
    // A cookie without an expiry lives until the program ends.
    bool IsExpired(TDateTime nowUTC) const { return ExpiresAt > 0 && ExpiresAt <= nowUTC; }

    std::string CookieName;
    std::string Value;
    std::string Path = "/";
    std::string Domain;      // empty until the store fills in the request host
    std::string Expires;     // as received, or made from MAX-AGE
    TDateTime ExpiresAt = 0; // UTC; 0 when there is no usable expiry
    bool Secure = false;
    // Set without a usable Domain attribute: sent back to its own host only.
    bool HostOnly = false;
    // Order of arrival in a store, kept when a cookie replaces one of its name.
    std::uint64_t CreationIndex = 0;

protected:
    virtual void LoadAttributes(const std::vector<TIdCookieAttribute>& attributes);
};

class TIdCookieRFC2109 : public TIdCookie {
public:
    std::int32_t MaxAge = -1; // -1 when absent or not a number
    std::string Version;
    std::string Comment;

protected:
    void LoadAttributes(const std::vector<TIdCookieAttribute>& attributes) override;
};

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
    std::string CommentURL;
    bool Discard = false;
    // 80 when "Port" is absent or an empty quoted list; none for an unquoted value.
    std::vector<int> Ports;

protected:
    // Raises EConvertError when an entry of a quoted "Port" list is not an integer.
    void LoadAttributes(const std::vector<TIdCookieAttribute>& attributes) override;
};

// A component, so that a client using a store made elsewhere hears of its end.
class TIdCookieManager : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;

    // Asked for every valid new cookie; answering false discards it.
    using TOnNewCookie = std::function<bool(TIdCookieManager& sender, const TIdCookie& cookie)>;

    // A server cannot make the store grow without end (the sizes RFC 6265 asks
    // a client to support): a longer cookie text is ignored, and beyond either
    // count the oldest cookie of the domain, or of all, is dropped.
    static constexpr std::size_t MaxCookieBytes = 4096; // name, value and attributes
    static constexpr std::size_t MaxCookiesPerDomain = 50;
    static constexpr std::size_t MaxCookies = 3000;

    // Parse a "Set-cookie" (RFC 2109 kind) or "Set-cookie2" (RFC 2965 kind)
    // value received from requestHost and keep it when its domain is valid for
    // that host and OnNewCookie accepts it. A cookie whose name (without case)
    // is already stored for the domain replaces the stored one in place.
    // A Secure cookie is kept only from a secure reply, and a Domain of a
    // single label (a top-level name) is ignored, as RFC 6265 allows without
    // a public-suffix list. Returns whether the cookie was kept.
    bool AddServerCookie(const std::string& value, const std::string& requestHost,
                         bool secureReply = false);
    bool AddServerCookie2(const std::string& value, const std::string& requestHost,
                          bool secureReply = false);

    // "name=value" of every unexpired cookie whose domain and path match the
    // URL, joined by "; "; secure cookies only when secure is true.
    std::string CookieText(const TIdURI& uri, bool secure) const;

    // The cookies stored for the domain (as the cookie gave it, without case).
    std::vector<std::shared_ptr<const TIdCookie>> Cookies(const std::string& domain) const;
    std::size_t Count() const;
    void Clear();

    // True when a cookie from requestHost may set domain.
    static bool IsValidDomain(const std::string& domain, const std::string& requestHost);

    TOnNewCookie OnNewCookie;

private:
    bool Store(std::shared_ptr<TIdCookie> cookie, const std::string& requestHost, bool secureReply);
    void DropOldestOfAll();

    mutable std::shared_mutex lock_;
    // Each domain's cookies in order of arrival.
    std::map<std::string, std::vector<std::shared_ptr<const TIdCookie>>> domains_;
    std::size_t count_ = 0;
    std::uint64_t created_ = 0;
};
