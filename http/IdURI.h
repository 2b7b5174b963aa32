#pragma once
// A URL split into its parts. Parsing never fails: malformed text only yields
// odd or empty parts. Every part is kept as written (no case change, no
// escaping, no default port).

#include "net/IdGlobal.h"

#include <string>

class TIdURI {
  public:
    explicit TIdURI(const std::string& uri = {});

    // Replaces every part; backslashes count as slashes.
    void ParseURI(const std::string& uri);
    // Raises EIdURIException when Protocol or Host is empty. A port of "80" is
    // left out whatever the protocol.
    std::string ComposeURI(bool withUserInfo = false, bool withFragment = false) const;
    // Resolves path against base: ".." removes the segment before it, doubled
    // slashes collapse, "." segments stay. A path starting with "/" wins outright.
    static std::string MergePath(const std::string& base, const std::string& path);

    std::string FullText;
    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;
    std::string DirPath; // "/" ... "/" for absolute URLs; no leading "/" added for relative ones
    std::string DocName;
    std::string Query;    // starts with the "?" (or the first "=" when there is no "?")
    std::string Fragment; // without the "#"
    TIdIPVersion IPVersion = Id_IPv4;
};
