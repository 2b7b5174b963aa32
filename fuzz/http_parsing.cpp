// The HTTP client's text parsers: URLs with their composition, header lists
// with wrapping, dates, cookies, the response-header processing and the
// Internet options' proxy settings. The first byte chooses the parser.

#include "fuzz/FuzzInput.h"
#include "fuzz/StrictHeaders.h"
#include "host/Exception.h"
#include "http/IdCookieManager.h"
#include "http/IdDateTime.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdProxySettings.h"
#include "http/IdURI.h"
#include "net/IdExceptionCore.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

void Url(vykfuzz::FuzzInput& input) {
    const bool withUserInfo = input.Byte() & 1;
    const std::string text = input.Text();
    const std::string base = input.Rest();
    TIdURI uri(text);
    // A merged path holds no "." or ".." segment, and one from "/" stays absolute.
    const std::string merged = TIdURI::MergePath(base, uri.DirPath + uri.DocName);
    const std::string framed = "/" + merged + "/";
    vykfuzz::Require(framed.find("/./") == std::string::npos &&
                         framed.find("/../") == std::string::npos,
                     "dot segment left in " + merged);
    if (!base.empty() && base[0] == '/')
        vykfuzz::Require(!merged.empty() && merged[0] == '/', "left the root: " + merged);
    std::string composed;
    try {
        composed = uri.ComposeURI(withUserInfo, true);
    } catch (const Exception&) {
        return; // no protocol or no host
    }
    // What the client sends is what it parsed: the same host and port.
    const TIdURI again(composed);
    vykfuzz::Require(again.Host == uri.Host, "host changed by composing: " + composed);
    vykfuzz::Require(again.Port == uri.Port || (again.Port.empty() && uri.Port == "80"),
                     "port changed by composing: " + composed);
}

std::vector<std::string> Lines(const TIdHeaderList& list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
    return lines;
}

std::string WithoutBlanks(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t') out += c;
    return out;
}

void Headers(vykfuzz::FuzzInput& input) {
    const std::uint8_t flags = input.Byte();
    const std::string name = input.Text();
    const std::string value = input.Text();
    TIdHeaderList list;
    list.NamesCaseSensitive = flags & 1;
    list.JoinContinuations = flags & 2;
    list.WrapWidth = flags >> 2;
    list.SetText(input.Rest());
    // Written out and parsed again, a parsed list holds the same names and values.
    TIdHeaderList reread;
    reread.NamesCaseSensitive = list.NamesCaseSensitive;
    reread.JoinContinuations = list.JoinContinuations;
    reread.SetText(list.Text());
    vykfuzz::Require(reread.Count() == list.Count(), "the line count changed by writing");
    for (int i = 0; i < list.Count(); ++i)
        vykfuzz::Require(reread.NameAt(i) == list.NameAt(i) && reread.ValueAt(i) == list.ValueAt(i),
                         "a line changed by writing: " + list[i]);

    (void)list.ValueOf(name);
    bool set = true;
    try {
        list.SetHeader(name, value);
    } catch (const Exception&) {
        set = false;
    }
    TIdHeaderList collected;
    list.CollectValues(name, &collected);
    reread.SetText(list.Text());
    // A value set under a plain name reads back, however it was wrapped.
    const bool plainName =
        !name.empty() && name.find_first_of(std::string(":\r\n\0 \t", 6)) == std::string::npos;
    const bool plainValue =
        std::none_of(value.begin(), value.end(),
                     [](char c) {
                         return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
                     }) &&
        !vykfuzz::TrimControls(value).empty();
    if (set && plainName && plainValue && list.JoinContinuations && !list.NamesCaseSensitive) {
        const auto fields = vykfuzz::ReadFields(Lines(reread));
        const std::string stored = vykfuzz::FirstValue(fields, vykfuzz::Lower(name));
        vykfuzz::Require(WithoutBlanks(stored) == WithoutBlanks(vykfuzz::TrimControls(value)),
                         "the value set for " + name + " reads back as " + stored);
    }
}

void Dates(vykfuzz::FuzzInput& input) {
    const std::uint8_t offset = input.Byte();
    const std::string text = input.Rest();
    try {
        (void)GMTToLocalDateTime(text, offset == 255 ? std::nullopt
                                                     : std::optional<int>(offset * 7 - 840));
    } catch (const EIdFailedToRetreiveTimeZoneInfo&) {
        vykfuzz::Require(offset == 255, "time zone failure with a known offset");
    }
    const auto utc = HttpDateToUTC(text);
    if (!utc || !std::isfinite(*utc) || *utc < 0 || *utc > 2958465) return; // years 1899 to 9999
    // A parsed date written out reads back as the same second.
    const auto again = HttpDateToUTC(DateTimeGMTToHttpStr(*utc));
    vykfuzz::Require(again && std::fabs(*again - *utc) < 1.5 / 86400,
                     "date changed by writing: " + text);
}

void Cookies(vykfuzz::FuzzInput& input) {
    const std::uint8_t flags = input.Byte();
    const std::string host = input.Text();
    const std::string url = input.Text();
    TIdCookieManager store;
    std::string value;
    while (!(value = input.Text()).empty()) {
        try {
            if (flags & 1)
                store.AddServerCookie2(value, host, flags & 4);
            else
                store.AddServerCookie(value, host, flags & 4);
        } catch (const Exception&) {
        }
    }
    const TIdURI uri(url);
    // Plain replies keep no Secure cookie, so a secure request is sent the
    // same; a cookie that expires between two looks is gone from the third.
    if (!(flags & 4)) {
        const std::string before = store.CookieText(uri, true);
        const std::string plain = store.CookieText(uri, false);
        vykfuzz::Require(plain == before || plain == store.CookieText(uri, true),
                         "a Secure cookie kept from a plain reply");
    } else
        (void)store.CookieText(uri, flags & 2);
    vykfuzz::Require(store.Count() <= TIdCookieManager::MaxCookies,
                     "cookie store beyond its bound");
}

// Each field the response takes from its block is what a look-up of the
// lines themselves finds.
void ResponseHeaders(vykfuzz::FuzzInput& input) {
    TIdResponseHeaderInfo response;
    response.HeaderLines.SetText(input.Rest());
    const auto fields = vykfuzz::ReadFields(Lines(response.HeaderLines));
    const auto length = vykfuzz::ContentLengthOf(fields);
    try {
        response.ProcessHeaders();
    } catch (const EIdFailedToRetreiveTimeZoneInfo&) {
        return;
    } catch (const EIdException&) {
        vykfuzz::Require(!length, "a consistent Content-Length refused");
        return;
    } catch (const Exception&) {
        return; // a time-zone failure while a date converts
    }
    vykfuzz::Require(length.has_value(), "differing Content-Length values accepted");
    vykfuzz::Require(response.ContentLength() == *length &&
                         response.ContentLengthKnown() == (*length >= 0),
                     "Content-Length " + std::to_string(response.ContentLength()) + " instead of " +
                         std::to_string(*length));
    const std::pair<const std::string*, const char*> texts[] = {
        {&response.Location, "location"},
        {&response.Server, "server"},
        {&response.ProxyConnection, "proxy-connection"},
        {&response.AcceptRanges, "accept-ranges"},
        {&response.Connection, "connection"},
        {&response.ContentType, "content-type"},
        {&response.ContentEncoding, "content-encoding"},
        {&response.ContentLanguage, "content-language"},
        {&response.Pragma, "pragma"},
    };
    for (const auto& [field, name] : texts)
        vykfuzz::Require(*field == vykfuzz::FirstValue(fields, name),
                         std::string("field ") + name + ": " + *field);
    std::vector<std::string> challenges;
    for (const auto& field : fields)
        if (field.name == "www-authenticate") challenges.push_back(field.value);
    vykfuzz::Require(Lines(response.WWWAuthenticate) == challenges,
                     "the challenges differ from the lines");
}

// The proxy settings and a script's answer: a choice is direct or a usable
// proxy, the bypass list goes direct only when it names the host, and an
// entry matches itself and "*" every host.
void ProxySettings(vykfuzz::FuzzInput& input) {
    const std::uint8_t flags = input.Byte();
    TIdInternetOptions options;
    options.AutoDetect = flags & 1;
    options.AutoConfigUrl = flags & 2 ? "http://wpad/proxy.pac" : "";
    options.Proxy = input.Text();
    options.Bypass = input.Text();
    const std::string url = input.Text();
    const std::string answer = input.Rest();
    const TIdProxyChoice choice = ChooseFromInternetOptions(
        options, url, [&](const std::string&, const std::string&) -> std::optional<std::string> {
            if (flags & 4) return std::nullopt;
            return answer;
        });
    if (!choice.Direct())
        vykfuzz::Require(choice.Port >= 1 && choice.Port <= 65535, "port out of range");
    const std::string host = TIdURI(url).Host;
    if (choice.Source == "Internet options' bypass list")
        vykfuzz::Require(BypassListMatches(options.Bypass, host), "bypassed without an entry");
    vykfuzz::Require(BypassListMatches("*", host), "* left out " + host);
    const bool plain = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && c != ';' && c != ',';
    });
    if (plain) vykfuzz::Require(BypassListMatches(host, host), "no match of itself: " + host);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    switch (input.Byte() % 6) {
    case 0:
        Url(input);
        break;
    case 1:
        Headers(input);
        break;
    case 2:
        Dates(input);
        break;
    case 3:
        Cookies(input);
        break;
    case 4:
        ResponseHeaders(input);
        break;
    default:
        ProxySettings(input);
        break;
    }
    return 0;
}
