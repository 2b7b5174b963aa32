// Reply bytes -> one GET (and maybe a second on the kept connection) through
// TIdHTTP over the in-memory handler. The first bytes choose the settings.

#include "fuzz/FuzzInput.h"
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
    case 0: return std::make_unique<TMemoryStream>();
    case 1: return std::make_unique<TStringStream>("prefix");
    case 2: return std::make_unique<TIdCappedStream>(16);
    default: return std::make_unique<RefusingStream>();
    }
}

void Get(TIdHTTP& http, TStream& sink, const char* url) {
    try {
        http.GetToStream(url, sink);
    } catch (const Exception&) {
        // Every failure of a hostile reply is an error of the named classes.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    const std::uint8_t flags = input.Byte();
    const std::uint8_t cap = input.Byte();
    const std::string reply = input.Rest();

    vyktest::MemoryIOHandler io(reply, cap == 0 ? 1 << 30 : cap);
    io.HoldOpen = flags & 0x10;
    TIdHTTP http;
    http.AttachHandler(&io);
    http.HandleRedirects = flags & 0x01;
    if (flags & 0x02) http.ProtocolVersion = pv1_0;
    if (flags & 0x04) {
        http.Request().Username = "user";
        http.Request().Password = "secret";
        http.HTTPOptions |= hoInProcessAuth;
    }
    http.SetReadTimeout(1);

    auto sink = MakeSink((flags >> 5) & 3);
    Get(http, *sink, "http://vendor.test/instal/Kalmin.exe");
    vykfuzz::Require(http.RedirectCounter <= http.RedirectMaximum, "redirects beyond the maximum");
    if (((flags >> 5) & 3) == 0)
        vykfuzz::Require(sink->Size() <= static_cast<std::int64_t>(reply.size()),
                         "a body larger than the reply");
    if (flags & 0x08) {
        auto second = MakeSink((flags >> 5) & 3);
        Get(http, *second, "/instal/Kalmin.exe");
    }
    return 0;
}
