// Replies -> one GET (and maybe a second) through TIdHTTP over the in-memory
// handler, each follow-up (redirect, retry with credentials, reconnect, the
// second GET) meeting the next reply. Input: a settings byte, an options byte,
// the read size, then the replies separated by three 0xFF bytes. Every request
// the client writes must read back as a well-formed one.

#include "fuzz/FuzzInput.h"
#include "fuzz/RequestCheck.h"
#include "host/Stream.h"
#include "http/IdCappedStream.h"
#include "http/IdHTTP.h"
#include "tests/support/MemoryIOHandler.h"

#include <memory>

namespace {

// A stream that takes nothing, as a full disk does.
class RefusingStream : public TMemoryStream {
public:
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
};

std::unique_ptr<TStream> MakeSink(int kind) {
    switch (kind) {
    case 0:
        return std::make_unique<TMemoryStream>();
    case 1:
        return std::make_unique<TStringStream>("prefix");
    case 2:
        return std::make_unique<TIdCappedStream>(16);
    default:
        return std::make_unique<RefusingStream>();
    }
}

void Get(TIdHTTP& http, TStream& sink, const char* url) {
    try {
        http.GetToStream(url, sink);
    } catch (const Exception&) {
        // Every failure of a hostile reply is an error of the named classes.
    }
}

std::vector<std::string> SplitReplies(const std::string& text) {
    static const std::string separator = "\xff\xff\xff";
    std::vector<std::string> replies;
    std::size_t at = 0;
    for (auto next = text.find(separator); next != std::string::npos;
         next = text.find(separator, at)) {
        replies.push_back(text.substr(at, next - at));
        at = next + separator.size();
    }
    replies.push_back(text.substr(at));
    return replies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    const std::uint8_t flags = input.Byte();
    const std::uint8_t options = input.Byte();
    const std::uint8_t cap = input.Byte();
    const std::string rest = input.Rest();
    const auto replies = SplitReplies(rest);

    vyktest::MemoryIOHandler io({}, cap == 0 ? 1 << 30 : cap);
    io.Replies.assign(replies.begin(), replies.end());
    io.HoldOpen = flags & 0x10;
    io.ClosesAfterReply = options & 0x02;
    TIdHTTP http;
    http.AttachHandler(&io);
    http.HandleRedirects = flags & 0x01;
    if (flags & 0x02) http.ProtocolVersion = pv1_0;
    if (flags & 0x04) {
        http.Request().Username = "user";
        http.Request().Password = "secret";
        http.HTTPOptions |= hoInProcessAuth;
    }
    http.Request().BasicAuthentication = options & 0x08;
    vykfuzz::RequestExpectation first;
    first.viaProxy = options & 0x01;
    if (first.viaProxy) {
        http.ProxyParams().SetProxyServer("proxy.test");
        http.ProxyParams().SetProxyPort(3128);
    }
    const std::string path = options & 0x04 ? "/instal/Kalmin.exe?v=1" : "/instal/Kalmin.exe";
    const std::string authority = options & 0x04 ? "vendor.test:8080" : "vendor.test";
    first.target = first.viaProxy ? "http://" + authority + path : path;
    http.SetReadTimeout(1);

    auto sink = MakeSink((flags >> 5) & 3);
    Get(http, *sink, ("http://" + authority + path).c_str());
    vykfuzz::Require(http.RedirectCounter <= http.RedirectMaximum, "redirects beyond the maximum");
    if (((flags >> 5) & 3) == 0)
        vykfuzz::Require(sink->Size() <= static_cast<std::int64_t>(rest.size()),
                         "a body larger than the replies");
    if (flags & 0x08) {
        auto second = MakeSink((flags >> 5) & 3);
        Get(http, *second, "/instal/Kalmin.exe");
    }
    const auto& requests = io.Requests();
    for (std::size_t i = 0; i < requests.size(); ++i) {
        vykfuzz::RequestExpectation expected;
        expected.viaProxy = first.viaProxy;
        if (i == 0) expected.target = first.target;
        vykfuzz::CheckRequest(requests[i], expected);
    }
    return 0;
}
