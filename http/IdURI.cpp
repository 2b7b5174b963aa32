#include "http/IdURI.h"

#include "net/IdExceptionCore.h"

#include <algorithm>
#include <cstring>

namespace {

// Splits text at the first delimiter: returns what precedes it and leaves what
// follows in text. Without the delimiter all of text is returned and text is emptied.
std::string Fetch(std::string& text, char delimiter) {
    const auto at = text.find(delimiter);
    std::string head;
    if (at == std::string::npos) {
        head.swap(text);
    } else {
        head = text.substr(0, at);
        text.erase(0, at + 1);
    }
    return head;
}

} // namespace

TIdURI::TIdURI(const std::string& uri) {
    if (!uri.empty()) ParseURI(uri);
}

void TIdURI::ParseURI(const std::string& uri) {
    // Texts here are single-byte or UTF-8, where no trail byte can be a "\",
    // so every backslash is a path delimiter.
    FullText = uri;
    std::replace(FullText.begin(), FullText.end(), '\\', '/');

    Protocol.clear();
    Username.clear();
    Password.clear();
    Host.clear();
    Port.clear();
    DirPath.clear();
    DocName.clear();
    Query.clear();
    Fragment.clear();
    IPVersion = Id_IPv4;

    std::string w = FullText;
    const auto schemeEnd = w.find("://");
    const bool absolute = schemeEnd != std::string::npos;
    if (absolute) {
        Protocol = w.substr(0, schemeEnd);
        w.erase(0, schemeEnd + 3);
        // The authority ends at the first "/", "?" or "#": ending it only at "/"
        // would read the host of "http://a.test?@b.test/" as b.test.
        const auto end = w.find_first_of("/?#");
        std::string authority = w.substr(0, end);
        w = end == std::string::npos ? std::string() : w.substr(w[end] == '/' ? end + 1 : end);

        // User information ends at the last "@": no host holds one, and taking
        // the first would leave "b@c" of "a@b@c" as a host that the request
        // line and a proxy would read as host "c".
        if (const auto at = authority.rfind('@'); at != std::string::npos) {
            std::string userInfo = authority.substr(0, at);
            authority.erase(0, at + 1);
            Username = Fetch(userInfo, ':');
            Password = userInfo;
            if (Username.empty()) Password.clear();
        }

        const auto open = authority.find('[');
        const auto close = authority.find(']');
        if (open != std::string::npos && close != std::string::npos && open < close) {
            Host = authority.substr(open + 1, close - open - 1);
            authority.erase(0, close + 1);
            Fetch(authority, ':');
            IPVersion = Id_IPv6;
        } else {
            Host = Fetch(authority, ':');
        }
        Port = authority;
    }

    // The fragment runs from the first "#" to the end, whatever it holds.
    if (const auto hash = w.find('#'); hash != std::string::npos) {
        Fragment = w.substr(hash + 1);
        w.erase(hash);
    }
    // The query starts at the first "?" only: an "=" belongs to the path
    // ("/a=1/../b" is "/b"), as every other reader of the URL takes it.
    const auto split = w.find('?');
    const auto slash = split == std::string::npos ? w.rfind('/')
                       : split == 0               ? std::string::npos
                                                  : w.rfind('/', split - 1);
    const std::size_t dirLength = slash == std::string::npos ? 0 : slash + 1;

    DirPath = (absolute ? "/" : "") + w.substr(0, dirLength);
    if (split == std::string::npos) {
        DocName = w;
    } else {
        DocName = w.substr(0, split);
        Query = w.substr(split);
    }
    DocName.erase(0, std::min(dirLength, DocName.size()));
}

std::string TIdURI::ComposeURI(bool withUserInfo, bool withFragment) const {
    if (Protocol.empty()) throw EIdURIException("Protocol field is empty");
    std::string out = Protocol + "://";
    if (withUserInfo && !Username.empty()) {
        out += Username;
        if (!Password.empty()) out += ":" + Password;
        out += "@";
    }
    if (Host.empty()) throw EIdURIException("Host field is empty");
    // An IPv6 literal needs its brackets back, or its colons read as a port.
    out += IPVersion == Id_IPv6 ? "[" + Host + "]" : Host;
    if (!Port.empty() && Port != "80") out += ":" + Port;
    out += DirPath + DocName + Query;
    if (withFragment && !Fragment.empty()) out += "#" + Fragment;
    return out;
}

void TIdURI::ResolvePathAndQuery(const TIdURI& reference) {
    const std::string path = reference.DirPath + reference.DocName;
    std::string resolved;
    if (path.empty() && reference.Protocol.empty()) {
        resolved = DirPath + DocName;
        if (!reference.Query.empty()) Query = reference.Query;
    } else {
        resolved = MergePath(DirPath, path);
        Query = reference.Query;
    }
    const auto slash = resolved.rfind('/');
    DirPath = slash == std::string::npos ? std::string() : resolved.substr(0, slash + 1);
    DocName = resolved.substr(slash == std::string::npos ? 0 : slash + 1);
}

std::string TIdURI::MergePath(const std::string& base, const std::string& path) {
    if (!path.empty() && path.front() == '/') return RemoveDotSegments(path);
    std::string merged = base;
    if (!merged.empty() && merged.back() != '/') merged += '/';
    return RemoveDotSegments(merged + path);
}

std::string TIdURI::RemoveDotSegments(const std::string& path) {
    std::string out;
    std::size_t i = 0; // what is left of the input starts here
    const auto startsWith = [&](const char* prefix) {
        return path.compare(i, std::strlen(prefix), prefix) == 0;
    };
    const auto restIs = [&](const char* whole) { return path.compare(i, path.size(), whole) == 0; };
    // Drops the last segment of out and the "/" before it.
    const auto dropLast = [&out] {
        const auto slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
    };
    while (i < path.size()) {
        if (startsWith("../"))
            i += 3;
        else if (startsWith("./"))
            i += 2;
        else if (startsWith("/./"))
            i += 2;
        else if (restIs("/.")) {
            out += '/';
            i = path.size();
        } else if (startsWith("/../")) {
            i += 3;
            dropLast();
        } else if (restIs("/..")) {
            dropLast();
            out += '/';
            i = path.size();
        } else if (restIs(".") || restIs("..")) {
            i = path.size();
        } else {
            // The first segment with its leading "/", up to the next "/".
            const auto end = std::min(path.find('/', path[i] == '/' ? i + 1 : i), path.size());
            out.append(path, i, end - i);
            i = end;
        }
    }
    return out;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            throw EIdInvalidURIEscape("Invalid escape \"" + ShownText(text.substr(i, 3)) +
                                      "\" in the user information of a URL.");
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}
