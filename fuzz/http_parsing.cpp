// The HTTP client's text parsers: URLs with their composition, header lists
// with wrapping, dates, cookies and the response-header processing. The first
// byte chooses the parser.

#include "fuzz/FuzzInput.h"
#include "host/Exception.h"
#include "http/IdCookieManager.h"
#include "http/IdDateTime.h"
#include "net/IdExceptionCore.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdURI.h"

#include <cmath>

namespace {

void Url(vykfuzz::FuzzInput& input) {
    const bool withUserInfo = input.Byte() & 1;
    const std::string text = input.Text();
    const std::string base = input.Rest();
    TIdURI uri(text);
    (void)TIdURI::MergePath(base, uri.DirPath + uri.DocName);
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

void Headers(vykfuzz::FuzzInput& input) {
    const std::uint8_t flags = input.Byte();
    const std::string name = input.Text();
    const std::string value = input.Text();
    TIdHeaderList list;
    list.NamesCaseSensitive = flags & 1;
    list.JoinContinuations = flags & 2;
    list.WrapWidth = flags >> 2;
    list.SetText(input.Rest());
    for (int i = 0; i < list.Count(); ++i) (void)list.ValueAt(i);
    (void)list.ValueOf(name);
    try {
        list.SetHeader(name, value);
    } catch (const Exception&) {
    }
    TIdHeaderList collected;
    list.CollectValues(name, &collected);
    TIdHeaderList reread;
    reread.SetText(list.Text());
}

void Dates(vykfuzz::FuzzInput& input) {
    const std::uint8_t offset = input.Byte();
    const std::string text = input.Rest();
    try {
        (void)GMTToLocalDateTime(text, offset == 255 ? std::nullopt : std::optional<int>(offset * 7 - 840));
    } catch (const EIdFailedToRetreiveTimeZoneInfo&) {
        vykfuzz::Require(offset == 255, "time zone failure with a known offset");
    }
    const auto utc = HttpDateToUTC(text);
    if (!utc || !std::isfinite(*utc) || *utc < 0 || *utc > 2958465) return; // years 1899 to 9999
    // A parsed date written out reads back as the same second.
    const auto again = HttpDateToUTC(DateTimeGMTToHttpStr(*utc));
    vykfuzz::Require(again && std::fabs(*again - *utc) < 1.5 / 86400, "date changed by writing: " + text);
}

void Cookies(vykfuzz::FuzzInput& input) {
    const std::uint8_t flags = input.Byte();
    const std::string host = input.Text();
    const std::string url = input.Text();
    TIdCookieManager store;
    std::string value;
    while (!(value = input.Text()).empty()) {
        try {
            if (flags & 1) store.AddServerCookie2(value, host);
            else store.AddServerCookie(value, host);
        } catch (const Exception&) {
        }
    }
    (void)store.CookieText(TIdURI(url), flags & 2);
    vykfuzz::Require(store.Count() <= TIdCookieManager::MaxCookies, "cookie store beyond its bound");
}

void ResponseHeaders(vykfuzz::FuzzInput& input) {
    TIdResponseHeaderInfo response;
    response.HeaderLines.SetText(input.Rest());
    try {
        response.ProcessHeaders();
    } catch (const Exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    switch (input.Byte() % 5) {
    case 0: Url(input); break;
    case 1: Headers(input); break;
    case 2: Dates(input); break;
    case 3: Cookies(input); break;
    default: ResponseHeaders(input); break;
    }
    return 0;
}
