#pragma once
// Header fields of HTTP messages: the entity fields both directions share, the
// request fields with their rendering into header lines, the response fields
// read from received header lines, and the proxy settings.

#include "http/IdAuthentication.h"
#include "http/IdDateTime.h"
#include "http/IdHeaderList.h"
#include "net/IdException.h"

#include <cstdint>
#include <memory>
#include <string>

// A response whose body no length can be read from: a Content-Length that is
// not one decimal number within 63 bits, or lines and list members that differ.
VYK_DECLARE_EXCEPTION(EIdInvalidContentLength, EIdException);
// A Transfer-Encoding other than "chunked" alone: the body's end is unknown.
VYK_DECLARE_EXCEPTION(EIdUnsupportedTransferEncoding, EIdException);

class TIdEntityHeaderInfo {
public:
    TIdEntityHeaderInfo();
    virtual ~TIdEntityHeaderInfo() = default;
    TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = default;
    TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = default;

    // -1 means no length. Also sets ContentLengthKnown (true for 0 or more).
    void SetContentLength(std::int64_t value);
    std::int64_t ContentLength() const { return contentLength_; }
    bool ContentLengthKnown() const { return contentLengthKnown_; }

    // Rebuilds HeaderLines from the entity fields, then appends CustomHeaders.
    virtual void SetHeaders();
    // Fills the entity fields from HeaderLines; absent headers give empty fields.
    // Raises EIdInvalidContentLength for a Content-Length that frames no body,
    // and EIdFailedToRetreiveTimeZoneInfo only when a date is present and the
    // machine's time zone is unknown.
    virtual void ProcessHeaders();

    std::string CacheControl;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::int64_t ContentRangeStart = 0;
    std::int64_t ContentRangeEnd = 0;
    std::int64_t ContentRangeInstanceLength = 0;
    std::string ContentType;
    std::string ContentVersion;
    TIdHeaderList CustomHeaders; // appended verbatim by SetHeaders
    TDateTime Date = 0;          // 0 means none, for all three dates
    TDateTime Expires = 0;
    TDateTime LastModified = 0;
    std::string Pragma;
    TIdHeaderList HeaderLines; // the lines as sent or received

private:
    std::int64_t contentLength_ = -1;
    bool contentLengthKnown_ = false;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdRequestHeaderInfo() = default;
    // Copies every field; this object's own Authentication is freed, not shared.
    void Assign(const TIdRequestHeaderInfo& source);

    // Entity lines, custom lines, request lines, then "Authorization". With
    // BasicAuthentication and no Authentication object, a Basic one is created
    // from Username and Password and kept.
    void SetHeaders() override;

    std::string Accept = "text/html, */*";
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    bool BasicAuthentication = false;
    std::string Host;
    std::string From;
    std::string Referer;
    std::string UserAgent = "Mozilla/3.0 (compatible; VYKPatch)";
    std::string Username;
    std::string Password;
    std::string ProxyConnection;
    std::string Range; // sent as "bytes=" + Range
    std::unique_ptr<TIdAuthentication> Authentication;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo();
    TIdResponseHeaderInfo(const TIdResponseHeaderInfo&) = default;
    TIdResponseHeaderInfo& operator=(const TIdResponseHeaderInfo&) = default;

    // The entity fields plus the response fields; the two challenge lists are
    // refilled with every value of their header, in order.
    void ProcessHeaders() override;
    // True when the Transfer-Encoding lines, joined in order, name "chunked"
    // alone (without case); false without any. Any other list, "chunked" not
    // last or twice, or an empty one, raises EIdUnsupportedTransferEncoding.
    bool ChunkedTransfer() const;

    std::string Location;
    std::string Server;
    std::string ProxyConnection;
    std::string AcceptRanges;
    TIdHeaderList WWWAuthenticate;
    TIdHeaderList ProxyAuthenticate;
};

class TIdProxyConnectionInfo {
public:
    const std::string& ProxyServer() const { return proxyServer_; }
    // A different server (compared without case) frees Authentication.
    void SetProxyServer(const std::string& value);
    int ProxyPort() const { return proxyPort_; }
    // A different port frees Authentication.
    void SetProxyPort(int value);
    // Back to no proxy, no credentials.
    void Clear();
    // Sets "Proxy-Authorization" from Authentication, or from a Basic object
    // created from ProxyUsername and ProxyPassword when BasicAuthentication is set.
    void SetHeaders(TIdHeaderList& headers);

    std::string ProxyUsername;
    std::string ProxyPassword;
    bool BasicAuthentication = false;
    std::unique_ptr<TIdAuthentication> Authentication;

private:
    std::string proxyServer_;
    int proxyPort_ = 0;
};
