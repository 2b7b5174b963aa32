#include "http/IdHTTPHeaderInfo.h"

#include "net/IdException.h"
#include "net/IdGlobal.h"

#include <optional>
#include <vector>

namespace {

constexpr std::size_t kMessageWrapWidth = 1024;

void SetText(TIdHeaderList& lines, const char* name, const std::string& value) {
    if (!value.empty()) lines.SetHeader(name, value);
}

void SetDate(TIdHeaderList& lines, const char* name, TDateTime value) {
    if (value > 0) lines.SetHeader(name, DateTimeGMTToHttpStr(value));
}

// Cuts the text at the first delimiter: returns the part before it and keeps
// the rest; without the delimiter, returns all of it and leaves nothing.
std::string Fetch(std::string& text, char delimiter) {
    const auto at = text.find(delimiter);
    std::string head = text.substr(0, at);
    text = at == std::string::npos ? std::string() : text.substr(at + 1);
    return head;
}

std::int64_t Int64OrZero(const std::string& text) {
    return TryTextToInt64(text).value_or(0);
}

// Puts the credential of auth (creating a Basic one when asked to) into the header.
void SetCredentials(TIdHeaderList& lines, const char* header,
                    std::unique_ptr<TIdAuthentication>& auth, bool basic,
                    const std::string& username, const std::string& password) {
    if (!auth && basic) {
        auth = std::make_unique<TIdBasicAuthentication>();
        auth->Username = username;
        auth->Password = password;
    }
    if (auth) SetText(lines, header, auth->Authentication());
}

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// The values of every line of that name, continuation lines joined by a
// blank, with nothing but blanks and tabs trimmed: a header that frames the
// body is read as written, so "\x0bchunked" is no "chunked".
std::vector<std::string> RawValues(const TIdHeaderList& lines, const std::string& name) {
    std::vector<std::string> values;
    for (int i = 0; i < lines.Count(); ++i) {
        // A blank before the colon does not hide the header; a continuation
        // line is part of the value above it, never a header of its own.
        if (IsContinuation(lines[i]) || !TextIsSame(TrimBlanks(lines.NameAt(i)), name)) continue;
        std::string value = lines[i].substr(lines[i].find(':') + 1);
        for (int next = i + 1; next < lines.Count() && IsContinuation(lines[next]); ++next)
            value += " " + lines[next];
        values.push_back(value);
    }
    return values;
}

// The members of comma lists given on one line or several, blanks trimmed.
std::vector<std::string> ListMembers(const std::vector<std::string>& values) {
    std::vector<std::string> members;
    for (const std::string& value : values) {
        std::size_t from = 0;
        while (true) {
            const auto comma = value.find(',', from);
            members.push_back(TrimBlanks(value.substr(from, comma - from)));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    return members;
}

std::string JoinedForMessage(const std::vector<std::string>& values) {
    std::string joined;
    for (const std::string& value : values)
        joined += (joined.empty() ? "" : ", ") + TrimBlanks(value);
    return "\"" + ShownText(joined.substr(0, 80)) + "\"";
}

// Digits only: a sign, "0x", "$" or an exponent names no length a server means.
std::optional<std::int64_t> DecimalLength(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return TryDecimalToInt64(text);
}

// Every line and every list member must be the same number, written the same
// way: of differing lengths, any one taken would frame a different body, and a
// value that is no number leaves the body's end unknown, so a cut body would
// pass as whole.
std::optional<std::int64_t> ContentLengthField(const TIdHeaderList& lines) {
    const std::vector<std::string> values = RawValues(lines, "Content-Length");
    const std::vector<std::string> members = ListMembers(values);
    std::optional<std::int64_t> length;
    for (const std::string& member : members) {
        length = DecimalLength(member);
        if (!length || member != members.front())
            throw EIdInvalidContentLength("Invalid Content-Length in response: " +
                                          JoinedForMessage(values));
    }
    return length;
}

} // namespace

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
    HeaderLines.WrapWidth = kMessageWrapWidth;
}

void TIdEntityHeaderInfo::SetContentLength(std::int64_t value) {
    contentLength_ = value;
    contentLengthKnown_ = value >= 0;
}

void TIdEntityHeaderInfo::SetHeaders() {
    HeaderLines.Clear();
    SetText(HeaderLines, "Connection", Connection);
    SetText(HeaderLines, "Content-Version", ContentVersion);
    SetText(HeaderLines, "Content-Encoding", ContentEncoding);
    SetText(HeaderLines, "Content-Language", ContentLanguage);
    SetText(HeaderLines, "Content-Type", ContentType);
    if (contentLength_ >= 0)
        HeaderLines.SetHeader("Content-Length", std::to_string(contentLength_));
    SetText(HeaderLines, "Cache-control", CacheControl);
    SetDate(HeaderLines, "Date", Date);
    SetDate(HeaderLines, "Expires", Expires);
    SetText(HeaderLines, "Pragma", Pragma);
    // Appended line by line: joined as text, a line end inside one would split
    // it into headers nobody set.
    for (int i = 0; i < CustomHeaders.Count(); ++i) HeaderLines.Add(CustomHeaders[i]);
}

void TIdEntityHeaderInfo::ProcessHeaders() {
    Connection = HeaderLines.ValueOf("Connection");
    ContentVersion = HeaderLines.ValueOf("Content-Version");
    ContentEncoding = HeaderLines.ValueOf("Content-Encoding");
    ContentLanguage = HeaderLines.ValueOf("Content-Language");
    ContentType = HeaderLines.ValueOf("Content-Type");
    Pragma = HeaderLines.ValueOf("Pragma");

    // Read as 64-bit like the field itself, so bodies above 2 GiB keep their length.
    SetContentLength(ContentLengthField(HeaderLines).value_or(-1));

    // "bytes first-last/total"
    std::string range = HeaderLines.ValueOf("Content-Range");
    Fetch(range, ' ');
    std::string span = Fetch(range, '/');
    ContentRangeInstanceLength = Int64OrZero(range);
    ContentRangeStart = Int64OrZero(Fetch(span, '-'));
    ContentRangeEnd = Int64OrZero(span);

    Date = GMTToLocalDateTime(HeaderLines.ValueOf("Date"));
    LastModified = GMTToLocalDateTime(HeaderLines.ValueOf("Last-Modified"));
    const std::string expires = HeaderLines.ValueOf("Expires");
    const auto seconds = TryTextToInt32(expires);
    if (seconds && *seconds != -1)
        Expires = NowLocal() + *seconds / 86400.0;
    else
        Expires = GMTToLocalDateTime(expires);
}

void TIdRequestHeaderInfo::Assign(const TIdRequestHeaderInfo& source) {
    if (this == &source) return;
    TIdEntityHeaderInfo::operator=(source);
    Accept = source.Accept;
    AcceptCharSet = source.AcceptCharSet;
    AcceptEncoding = source.AcceptEncoding;
    AcceptLanguage = source.AcceptLanguage;
    BasicAuthentication = source.BasicAuthentication;
    Host = source.Host;
    From = source.From;
    Referer = source.Referer;
    UserAgent = source.UserAgent;
    Username = source.Username;
    Password = source.Password;
    ProxyConnection = source.ProxyConnection;
    Range = source.Range;
    Authentication.reset();
}

void TIdRequestHeaderInfo::SetHeaders() {
    TIdEntityHeaderInfo::SetHeaders();
    SetText(HeaderLines, "Proxy-Connection", ProxyConnection);
    SetText(HeaderLines, "Host", Host);
    SetText(HeaderLines, "Accept", Accept);
    SetText(HeaderLines, "Accept-Charset", AcceptCharSet);
    SetText(HeaderLines, "Accept-Encoding", AcceptEncoding);
    SetText(HeaderLines, "Accept-Language", AcceptLanguage);
    SetText(HeaderLines, "From", From);
    SetText(HeaderLines, "Referer", Referer);
    SetText(HeaderLines, "User-Agent", UserAgent);
    if (!Range.empty()) HeaderLines.SetHeader("Range", "bytes=" + Range);
    SetDate(HeaderLines, "If-Modified-Since", LastModified);
    SetCredentials(HeaderLines, "Authorization", Authentication, BasicAuthentication, Username,
                   Password);
}

TIdResponseHeaderInfo::TIdResponseHeaderInfo() {
    ContentType = "text/html";
}

void TIdResponseHeaderInfo::ProcessHeaders() {
    TIdEntityHeaderInfo::ProcessHeaders();
    Location = HeaderLines.ValueOf("Location");
    Server = HeaderLines.ValueOf("Server");
    ProxyConnection = HeaderLines.ValueOf("Proxy-Connection");
    AcceptRanges = HeaderLines.ValueOf("Accept-Ranges");
    WWWAuthenticate.Clear();
    HeaderLines.CollectValues("WWW-Authenticate", &WWWAuthenticate);
    ProxyAuthenticate.Clear();
    HeaderLines.CollectValues("Proxy-Authenticate", &ProxyAuthenticate);
}

bool TIdResponseHeaderInfo::ChunkedTransfer() const {
    const std::vector<std::string> values = RawValues(HeaderLines, "Transfer-Encoding");
    if (values.empty()) return false;
    std::vector<std::string> codings;
    // Empty members are allowed in any list; they name no coding.
    for (const std::string& member : ListMembers(values))
        if (!member.empty()) codings.push_back(member);
    if (codings.size() != 1 || !TextIsSame(codings.front(), "chunked"))
        throw EIdUnsupportedTransferEncoding("Unsupported Transfer-Encoding in response: " +
                                             JoinedForMessage(values));
    return true;
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& value) {
    if (!TextIsSame(value, proxyServer_)) Authentication.reset();
    proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int value) {
    if (value == proxyPort_) return;
    proxyPort_ = value;
    Authentication.reset();
}

void TIdProxyConnectionInfo::Clear() {
    proxyServer_.clear();
    proxyPort_ = 0;
    ProxyUsername.clear();
    ProxyPassword.clear();
    BasicAuthentication = false;
    Authentication.reset();
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& headers) {
    SetCredentials(headers, "Proxy-Authorization", Authentication, BasicAuthentication,
                   ProxyUsername, ProxyPassword);
}
