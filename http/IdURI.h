#pragma once
// A URL split into its parts. Parsing never fails: malformed text only yields
// odd or empty parts. Every part is kept as written (no case change, no
// escaping, no default port).

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"

#include <string>

// A "%" in user information that is not followed by two hexadecimal digits.
VYK_DECLARE_EXCEPTION(EIdInvalidURIEscape, EIdURIException);

// User information as the name and password it stands for: every "%XX" is
// the byte XX, so "p%40ss" is "p@ss". Raises EIdInvalidURIEscape for "%4" or
// "%zz", which no sender meant to pass on raw.
std::string PercentDecoded(const std::string& text);

class TIdURI {
public:
    explicit TIdURI(const std::string& uri = {});

    // Replaces every part; backslashes count as slashes.
    void ParseURI(const std::string& uri);
    // Raises EIdURIException when Protocol or Host is empty. A port of "80" is
    // left out whatever the protocol.
    std::string ComposeURI(bool withUserInfo = false, bool withFragment = false) const;
    // Resolves path against the directory base as a relative reference's path
    // is resolved (RFC 3986 section 5.2): a path starting with "/" replaces
    // base, another follows it; then dot segments are removed.
    static std::string MergePath(const std::string& base, const std::string& path);
    // Takes the path and query of reference (parsed relative to this URL) as
    // RFC 3986 section 5.2.2 resolves them: one with neither path nor query
    // is this URL itself (its fragment aside), a query alone keeps the path,
    // and every other path is merged and loses its dot segments.
    void ResolvePathAndQuery(const TIdURI& reference);
    // "." and ".." segments resolved (RFC 3986 section 5.2.4): ".." removes the
    // segment before it, never above the root; empty segments stay.
    static std::string RemoveDotSegments(const std::string& path);

    std::string FullText;
    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;
    std::string DirPath; // "/" ... "/" for absolute URLs; no leading "/" added for relative ones
    std::string DocName;
    std::string Query;    // starts with the "?"
    std::string Fragment; // without the "#"
    TIdIPVersion IPVersion = Id_IPv4;
};
