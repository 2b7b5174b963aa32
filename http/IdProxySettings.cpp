#include "http/IdProxySettings.h"

#include "http/IdHTTP.h"
#include "http/IdURI.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

// The proxy text as a message may show it: a password becomes "***". User
// information runs to the last "@" before the path, as the URL is parsed.
std::string Masked(const std::string& text) {
    const auto start = text.find("://") == std::string::npos ? 0 : text.find("://") + 3;
    const auto at = text.substr(0, text.find_first_of("/?#", start)).rfind('@');
    if (at == std::string::npos || at < start) return text;
    const auto colon = text.find(':', start);
    if (colon == std::string::npos || colon > at) return text;
    return text.substr(0, colon + 1) + "***" + text.substr(at);
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The entries of list, split at any of separators, trimmed, empty ones left out.
std::vector<std::string> Entries(const std::string& list, const char* separators) {
    std::vector<std::string> entries;
    std::size_t from = 0;
    while (from <= list.size()) {
        const auto end = std::min(list.find_first_of(separators, from), list.size());
        std::string entry = Trim(list.substr(from, end - from));
        if (!entry.empty()) entries.push_back(entry);
        from = end + 1;
    }
    return entries;
}

// Whether text matches pattern, '*' standing for any run of characters;
// both in lower case.
bool Matches(const std::string& pattern, const std::string& text) {
    std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string SchemeOf(const std::string& url) {
    return LowerCase(TIdURI(url).Protocol);
}

// The proxy a list entry of the Internet options or a script names (port 80
// when left out); none for an empty entry or one that cannot be used.
std::optional<TIdProxyChoice> UsableEntry(const std::string& entry, const std::string& source) {
    if (entry.empty()) return std::nullopt;
    try {
        return ParseProxyUrl(entry, source, 80);
    } catch (const EIdProxySettingInvalid&) {
        return std::nullopt;
    }
}

// The script's answer as a choice; none when it cannot be used.
std::optional<TIdProxyChoice> FromScriptAnswer(const std::optional<std::string>& answer,
                                               const std::string& url, const std::string& source) {
    if (!answer) return std::nullopt;
    if (answer->empty()) return TIdProxyChoice::DirectBy(source);
    return UsableEntry(ProxyListEntryFor(*answer, SchemeOf(url)), source);
}

// The URL as a setup script sees it: no user information, and for https
// no path or query, which are the site's business.
std::string ShownToScripts(const std::string& url) {
    TIdURI uri(url);
    if (TextIsSame(uri.Protocol, "https")) {
        uri.DirPath = "/";
        uri.DocName.clear();
        uri.Query.clear();
    }
    uri.Fragment.clear();
    try {
        return uri.ComposeURI(false);
    } catch (const EIdURIException&) {
        return {}; // no scheme or host: nothing a script could answer for
    }
}

} // namespace

// HOST[:PORT] without a scheme is an http proxy, as curl takes it.
TIdProxyChoice ParseProxyUrl(const std::string& text, const std::string& source, int defaultPort) {
    const TIdURI proxy(text.find("://") == std::string::npos ? "http://" + text : text);
    if (!TextIsSame(proxy.Protocol, "http") || proxy.Host.empty())
        throw EIdProxySettingInvalid(source + " needs [http://][USER:PASSWORD@]HOST[:PORT], not '" +
                                     Masked(text) + "'");
    TIdProxyChoice choice{proxy.Host, defaultPort, {}, {}, source};
    try {
        choice.Username = PercentDecoded(proxy.Username);
        choice.Password = PercentDecoded(proxy.Password);
    } catch (const EIdInvalidURIEscape&) {
        throw EIdProxySettingInvalid(source + " has an invalid escape in '" + Masked(text) + "'");
    }
    if (!proxy.Port.empty()) {
        const auto port = TryTextToInt32(proxy.Port);
        if (!port || *port < 1 || *port > 65535)
            throw EIdProxySettingInvalid(source + " has a bad port in '" + Masked(text) + "'");
        choice.Port = *port;
    }
    return choice;
}

bool HostIsListed(const std::string& list, const std::string& host) {
    const std::string name = LowerCase(host);
    // An address matches only itself: "0.1" is no domain of 127.0.0.1.
    const bool address = IsIPv4Text(name) || name.find(':') != std::string::npos;
    for (std::string entry : Entries(LowerCase(list), ",")) {
        if (entry == "*") return true;
        while (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
        if (entry.empty()) continue;
        if (name == entry || (!address && name.size() > entry.size() &&
                              name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
                              name[name.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

std::string EnvironmentNoProxy() {
    const std::string lower = Variable("no_proxy");
    return lower.empty() ? Variable("NO_PROXY") : lower;
}

TIdProxyChoice EnvironmentProxyFor(const std::string& url,
                                   const std::optional<std::string>& noProxy) {
    const bool secure = SchemeOf(url) == "https";
    std::string source = secure ? "https_proxy" : "http_proxy";
    std::string value = Variable(source.c_str());
    if (secure && value.empty()) value = Variable((source = "HTTPS_PROXY").c_str());
    if (value.empty()) return {};
    if (HostIsListed(noProxy.value_or(EnvironmentNoProxy()), TIdURI(url).Host))
        return TIdProxyChoice::DirectBy("no_proxy");
    return ParseProxyUrl(value, source);
}

std::string ProxyListEntryFor(const std::string& list, const std::string& scheme) {
    std::string unnamed;
    for (const std::string& entry : Entries(list, "; \t")) {
        // "scheme=": a name of letters only; an "=" elsewhere (a password) names nothing.
        const auto equals = entry.find('=');
        const bool named =
            equals != std::string::npos && equals > 0 &&
            std::all_of(entry.begin(), entry.begin() + static_cast<std::ptrdiff_t>(equals),
                        [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
        if (!named) {
            if (unnamed.empty()) unnamed = entry;
        } else if (TextIsSame(entry.substr(0, equals), scheme)) {
            return Trim(entry.substr(equals + 1));
        }
    }
    return unnamed;
}

bool BypassListMatches(const std::string& list, const std::string& host) {
    const std::string name = LowerCase(host);
    for (const std::string& entry : Entries(LowerCase(list), "; \t,")) {
        if (entry == "<local>") {
            if (!name.empty() && name.find_first_of(".:") == std::string::npos) return true;
        } else if (Matches(entry, name)) {
            return true;
        }
    }
    return false;
}

TIdProxyChoice ChooseFromInternetOptions(const TIdInternetOptions& options, const std::string& url,
                                         const TIdAskSetupScript& ask) {
    const std::string shown = ShownToScripts(url);
    if (options.AutoDetect)
        if (auto choice = FromScriptAnswer(ask({}, shown), url, "automatic detection"))
            return *choice;
    if (!options.AutoConfigUrl.empty())
        if (auto choice = FromScriptAnswer(ask(options.AutoConfigUrl, shown), url,
                                           "setup script " + Masked(options.AutoConfigUrl)))
            return *choice;
    const std::string entry = ProxyListEntryFor(options.Proxy, SchemeOf(url));
    if (entry.empty()) return {};
    if (BypassListMatches(options.Bypass, TIdURI(url).Host))
        return TIdProxyChoice::DirectBy("Internet options' bypass list");
    return UsableEntry(entry, "Internet options").value_or(TIdProxyChoice());
}

void UseProxy(TIdHTTP& http, const TIdProxyChoice& choice) {
    TIdProxyConnectionInfo& proxy = http.ProxyParams();
    proxy.Clear();
    if (choice.Direct()) return;
    proxy.SetProxyServer(choice.Host);
    proxy.SetProxyPort(choice.Port);
    if (choice.Username.empty()) return;
    proxy.ProxyUsername = choice.Username;
    proxy.ProxyPassword = choice.Password;
    proxy.BasicAuthentication = true;
}
