#include "http/IdCookieManager.h"

#include "net/IdGlobal.h"

#include <mutex>

namespace {

// A control byte (a tab aside) in a cookie would go back out in the Cookie
// header of the next request: such a cookie is ignored whole.
bool HasControlByte(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}

const TIdCookieAttribute* FindAttribute(const std::vector<TIdCookieAttribute>& attributes,
                                        const char* name) {
    for (const auto& attribute : attributes)
        if (attribute.Name == name) return &attribute;
    return nullptr;
}

std::string AttributeValue(const std::vector<TIdCookieAttribute>& attributes, const char* name) {
    const auto* attribute = FindAttribute(attributes, name);
    return attribute ? attribute->Value : std::string();
}

bool IsIPAddress(const std::string& host) {
    return IsIPv4Text(host) || host.find(':') != std::string::npos;
}

bool EndsWithText(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && TextIsSame(text.substr(text.size() - tail.size()), tail);
}

// A cookie path applies to the request path itself and to everything below it.
bool PathMatches(const std::string& cookiePath, const std::string& requestPath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
    return !cookiePath.empty() &&
           (cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/');
}

} // namespace

void TIdCookie::Parse(const std::string& text) {
    std::vector<std::string> parts;
    std::string rest = text;
    while (true) {
        const auto semicolon = rest.find(';');
        parts.push_back(Trim(rest.substr(0, semicolon)));
        if (semicolon == std::string::npos) break;
        rest.erase(0, semicolon + 1);
    }

    const std::string& first = parts.front();
    const auto equals = first.find('=');
    CookieName = Trim(first.substr(0, equals));
    Value = equals == std::string::npos ? std::string() : Trim(first.substr(equals + 1));

    std::vector<TIdCookieAttribute> attributes;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty()) continue;
        const auto at = parts[i].find('=');
        if (at == std::string::npos)
            attributes.push_back({UpperCase(parts[i]), {}});
        else
            attributes.push_back(
                {UpperCase(Trim(parts[i].substr(0, at))), Trim(parts[i].substr(at + 1))});
    }
    LoadAttributes(attributes);
}

void TIdCookie::LoadAttributes(const std::vector<TIdCookieAttribute>& attributes) {
    std::string path = AttributeValue(attributes, "PATH");
    if (!path.empty() && path.front() == '"') path.erase(0, 1);
    if (!path.empty() && path.back() == '"') path.pop_back();
    Path = path.empty() ? "/" : path;

    Expires = AttributeValue(attributes, "EXPIRES");
    // An expiry that does not parse leaves the cookie without one.
    ExpiresAt = HttpDateToUTC(Expires).value_or(0);
    Domain = AttributeValue(attributes, "DOMAIN");
    Secure = FindAttribute(attributes, "SECURE") != nullptr;
}

void TIdCookieRFC2109::LoadAttributes(const std::vector<TIdCookieAttribute>& attributes) {
    TIdCookie::LoadAttributes(attributes);
    MaxAge = TryTextToInt32(AttributeValue(attributes, "MAX-AGE")).value_or(-1);
    Version = AttributeValue(attributes, "VERSION");
    Comment = AttributeValue(attributes, "COMMENT");
    if (Expires.empty() && MaxAge >= 0) {
        Expires = DateTimeGMTToHttpStr(NowUTC() + MaxAge / 86400.0);
        ExpiresAt = HttpDateToUTC(Expires).value_or(0);
    }
}

void TIdCookieRFC2965::LoadAttributes(const std::vector<TIdCookieAttribute>& attributes) {
    TIdCookieRFC2109::LoadAttributes(attributes);
    CommentURL = AttributeValue(attributes, "COMMENTURL");
    Discard = FindAttribute(attributes, "DISCARD") != nullptr;

    Ports.clear();
    const auto* port = FindAttribute(attributes, "PORT");
    if (!port) {
        Ports.push_back(80);
        return;
    }
    const std::string& v = port->Value;
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') return;
    std::string list = Trim(v.substr(1, v.size() - 2));
    if (list.empty()) {
        Ports.push_back(80);
        return;
    }
    while (true) {
        const auto comma = list.find(',');
        Ports.push_back(TextToInt32(Trim(list.substr(0, comma))));
        if (comma == std::string::npos) break;
        list.erase(0, comma + 1);
    }
}

bool TIdCookieManager::IsValidDomain(const std::string& domain, const std::string& requestHost) {
    if (domain.empty() || requestHost.empty()) return false;
    // An address has no parent domains to share cookies with.
    if (IsIPAddress(requestHost)) return TextIsSame(domain, requestHost);
    if (requestHost.front() == '.') return TextIsSame(domain, requestHost);

    // Host names compare without case and only on whole labels, so that
    // "example.com" never sets cookies for "badexample.com".
    const std::string bare = domain.front() == '.' ? domain.substr(1) : domain;
    if (bare.empty() || IsIPAddress(bare)) return false;
    return TextIsSame(requestHost, bare) || EndsWithText(requestHost, "." + bare);
}

bool TIdCookieManager::AddServerCookie(const std::string& value, const std::string& requestHost,
                                       bool secureReply) {
    if (value.size() > MaxCookieBytes || HasControlByte(value)) return false;
    auto cookie = std::make_shared<TIdCookieRFC2109>();
    cookie->Parse(value);
    return Store(std::move(cookie), requestHost, secureReply);
}

bool TIdCookieManager::AddServerCookie2(const std::string& value, const std::string& requestHost,
                                        bool secureReply) {
    if (value.size() > MaxCookieBytes || HasControlByte(value)) return false;
    auto cookie = std::make_shared<TIdCookieRFC2965>();
    cookie->Parse(value);
    return Store(std::move(cookie), requestHost, secureReply);
}

bool TIdCookieManager::Store(std::shared_ptr<TIdCookie> cookie, const std::string& requestHost,
                             bool secureReply) {
    // Over plain http anyone on the way could set what https replies rely on.
    if (cookie->Secure && !secureReply) return false;
    // "test" or ".test" would reach every host under a top-level name.
    const std::string bare = cookie->Domain.substr(cookie->Domain.compare(0, 1, ".") == 0 ? 1 : 0);
    if (bare.find('.') == std::string::npos && !IsIPAddress(bare)) cookie->Domain.clear();
    if (cookie->Domain.empty()) {
        cookie->Domain = requestHost;
        cookie->HostOnly = true;
    }
    if (!IsValidDomain(cookie->Domain, requestHost)) return false;
    // The handler runs unlocked so that it may read the store.
    if (OnNewCookie && !OnNewCookie(*this, *cookie)) return false;

    std::unique_lock guard(lock_);
    auto& list = domains_[LowerCase(cookie->Domain)];
    for (auto& stored : list) {
        if (TextIsSame(stored->CookieName, cookie->CookieName)) {
            // Nor may a plain reply replace what a secure one set.
            if (stored->Secure && !secureReply) return false;
            cookie->CreationIndex = stored->CreationIndex;
            stored = std::move(cookie);
            return true;
        }
    }
    cookie->CreationIndex = ++created_;
    list.push_back(std::move(cookie));
    ++count_;
    if (list.size() > MaxCookiesPerDomain) {
        list.erase(list.begin());
        --count_;
    }
    while (count_ > MaxCookies) DropOldestOfAll();
    return true;
}

void TIdCookieManager::DropOldestOfAll() {
    // Every list is in order of arrival, so the oldest cookie heads one of them.
    auto oldest = domains_.end();
    for (auto it = domains_.begin(); it != domains_.end(); ++it) {
        if (!it->second.empty() &&
            (oldest == domains_.end() ||
             it->second.front()->CreationIndex < oldest->second.front()->CreationIndex))
            oldest = it;
    }
    if (oldest == domains_.end()) return;
    oldest->second.erase(oldest->second.begin());
    --count_;
    if (oldest->second.empty()) domains_.erase(oldest);
}

std::string TIdCookieManager::CookieText(const TIdURI& uri, bool secure) const {
    const std::string path = uri.DirPath + uri.DocName;
    const std::string requestPath = path.empty() ? std::string(1, '/') : path;
    const TDateTime now = NowUTC();

    std::string out;
    std::shared_lock guard(lock_);
    for (const auto& [domain, list] : domains_) {
        if (!IsValidDomain(domain, uri.Host)) continue;
        for (const auto& cookie : list) {
            if (cookie->IsExpired(now) || (cookie->Secure && !secure) ||
                (cookie->HostOnly && !TextIsSame(cookie->Domain, uri.Host)) ||
                !PathMatches(cookie->Path, requestPath))
                continue;
            if (!out.empty()) out += "; ";
            out += cookie->CookieText();
        }
    }
    return out;
}

std::vector<std::shared_ptr<const TIdCookie>>
TIdCookieManager::Cookies(const std::string& domain) const {
    std::shared_lock guard(lock_);
    const auto found = domains_.find(LowerCase(domain));
    return found == domains_.end() ? std::vector<std::shared_ptr<const TIdCookie>>()
                                   : found->second;
}

std::size_t TIdCookieManager::Count() const {
    std::shared_lock guard(lock_);
    return count_;
}

void TIdCookieManager::Clear() {
    std::unique_lock guard(lock_);
    domains_.clear();
    count_ = 0;
}
