#pragma once
// Which proxy, if any, serves a URL: from a proxy URL the user gave, from the
// environment (http_proxy, https_proxy, no_proxy) or from the system's own
// settings, and how a choice goes into a client. The platform part is
// SystemProxyFor: the user's Internet options on Windows, the environment
// elsewhere.

#include "net/IdException.h"

#include <functional>
#include <optional>
#include <string>

class TIdHTTP;

// A proxy setting that cannot be used; the message names its source and says
// what is wrong, with any password masked.
VYK_DECLARE_EXCEPTION(EIdProxySettingInvalid, EIdException);

struct TIdProxyChoice {
    std::string Host; // empty: connect directly
    int Port = 0;
    std::string Username; // decoded; empty: no credentials
    std::string Password;
    // Where the setting came from ("http_proxy", "Internet options", ...);
    // empty when nothing was set at all.
    std::string Source;

    bool Direct() const { return Host.empty(); }
    // A direct connection, as source decided.
    static TIdProxyChoice DirectBy(const std::string& source) {
        TIdProxyChoice direct;
        direct.Source = source;
        return direct;
    }
};

// [http://][USER:PASSWORD@]HOST[:PORT], defaultPort when the port is left
// out; user information is percent-decoded. Raises EIdProxySettingInvalid,
// naming source, for another scheme, no host, a bad port or a bad escape.
TIdProxyChoice ParseProxyUrl(const std::string& text, const std::string& source,
                             int defaultPort = 1080);

// Whether host is one of list as no_proxy writes it: comma-separated host
// names, domain suffixes (".example.com" or "example.com" for its subdomains
// too), addresses, or "*" for every host.
bool HostIsListed(const std::string& list, const std::string& host);

// The hosts no_proxy (else NO_PROXY) lists; empty when neither is set.
std::string EnvironmentNoProxy();

// http_proxy for an http URL (in lower case only: HTTP_PROXY may come from a
// CGI request's "Proxy:" header), https_proxy or HTTPS_PROXY for an https
// one, unless the URL's host is in noProxy (EnvironmentNoProxy() when none
// is given). Source is the variable read ("no_proxy" when the list keeps the
// host direct), empty when none is set. Raises
// EIdProxySettingInvalid for a value that cannot be used.
TIdProxyChoice EnvironmentProxyFor(const std::string& url,
                                   const std::optional<std::string>& noProxy = std::nullopt);

// The user's Internet options as Windows keeps them.
struct TIdInternetOptions {
    bool AutoDetect = false;   // "detect settings automatically" (WPAD)
    std::string AutoConfigUrl; // "use setup script": the script's URL
    std::string Proxy;         // "host:port", or per scheme "http=host:port;https=..."
    std::string Bypass;        // ';'-separated names, *.domain patterns, addresses, <local>
};

// What automatic detection (scriptUrl empty) or the setup script at
// scriptUrl answers for url: none when it found nothing or failed, an empty
// text for DIRECT, else its proxy list ("host:port;...").
using TIdAskSetupScript =
    std::function<std::optional<std::string>(const std::string& scriptUrl, const std::string& url)>;

// The order Windows programs follow: detection, then the setup script, each
// deciding when it answers; then the fixed proxy for the URL's scheme unless
// the bypass list names its host; else direct. Unlike some programs, nothing
// is bypassed that the list does not name, loopback addresses included. A
// fixed proxy that cannot be used means direct; a script answer that cannot
// be used counts as none. A script, which may come off the network, is shown
// the URL without user information, and an https one without its path.
TIdProxyChoice ChooseFromInternetOptions(const TIdInternetOptions& options, const std::string& url,
                                         const TIdAskSetupScript& ask);

// The entry of a proxy list that serves scheme: the first "scheme=host:port",
// else the first entry without "name="; empty when none serves it.
std::string ProxyListEntryFor(const std::string& list, const std::string& scheme);

// Whether host matches an entry of an Internet-options bypass list: '*'
// stands for any run of characters, case is ignored, and "<local>" matches
// a name without a dot. Nothing is bypassed that the list does not name.
bool BypassListMatches(const std::string& list, const std::string& host);

// The proxy the system is set to use for url: on Windows the user's Internet
// options (read through WinHTTP, setup script included), elsewhere the
// environment. Never raises: a setting that cannot be read or used means a
// direct connection.
TIdProxyChoice SystemProxyFor(const std::string& url);

// Puts choice into the client's proxy settings: server, port, and Basic
// credentials when it has a user name. A direct choice clears them.
void UseProxy(TIdHTTP& http, const TIdProxyChoice& choice);
