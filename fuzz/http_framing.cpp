// Body framing with a known answer. From the input a reply is built whose body
// is known: by length, chunked (sizes of one or more hex digits in either case,
// leading zeros, extensions, trailers) or until the peer closes. The client
// must deliver exactly that body, at the read sizes the input picks, and then
// a second reply on the same or a new connection. In the mutating variant a
// few framing bytes are changed first; the client may then fail, but a body it
// delivers must be the one a strict decoder, written here on its own, reads
// from the same bytes.

#include "fuzz/FuzzInput.h"
#include "fuzz/RequestCheck.h"
#include "fuzz/StrictHeaders.h"
#include "host/Stream.h"
#include "http/IdHTTP.h"
#include "tests/support/MemoryIOHandler.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

namespace {

enum Framing { ByLength, Chunked, UntilClose };

struct Rendered {
    std::string bytes;
    std::vector<std::size_t> framing;  // offsets of the bytes that frame the body
    std::vector<std::size_t> inValues; // the subset that stands inside a header value
};

void Append(Rendered& out, const std::string& text, bool framing, bool inValue = false) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (framing) out.framing.push_back(out.bytes.size() + i);
        if (inValue) out.inValues.push_back(out.bytes.size() + i);
    }
    out.bytes += text;
}

std::string Hex(std::uint64_t value, vykfuzz::FuzzInput& input, std::uint8_t style) {
    static const char lower[] = "0123456789abcdef";
    static const char upper[] = "0123456789ABCDEF";
    std::string digits;
    do {
        const bool up = style & 1 ? (input.Byte() & 1) : (style & 2);
        digits.insert(digits.begin(), (up ? upper : lower)[value % 16]);
        value /= 16;
    } while (value > 0);
    if (style & 4) digits.insert(0, input.Byte() % 4, '0');
    return digits;
}

Rendered Render(Framing framing, const std::string& body, vykfuzz::FuzzInput& input) {
    Rendered out;
    const std::uint8_t style = input.Byte();
    Append(out, style & 0x80 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.1 200 OK\r\n", false);
    if (style & 0x40) Append(out, "Connection: keep-alive\r\n", false);
    if (framing == ByLength) {
        Append(out, "Content-Length: ", false);
        Append(out, std::to_string(body.size()), true, true);
        Append(out, "\r\n", false);
    } else if (framing == Chunked) {
        Append(out, "Transfer-Encoding: ", false);
        Append(out, style & 0x20 ? "Chunked" : "chunked", true, true);
        Append(out, "\r\n", false);
    }
    Append(out, "\r\n", true);
    if (framing != Chunked) {
        Append(out, body, false);
        return out;
    }
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t size = std::min<std::size_t>(body.size() - at, input.Byte() + 1u);
        Append(out, Hex(size, input, style), true);
        const std::uint8_t extension = input.Byte();
        if (extension & 1) Append(out, extension & 2 ? " ;name=\"v;al\"" : ";x", true);
        Append(out, extension & 4 ? "\n" : "\r\n", true);
        Append(out, body.substr(at, size), false);
        Append(out, extension & 8 ? "\n" : "\r\n", true);
        at += size;
    }
    Append(out, std::string(input.Byte() % 3, '0') + "0\r\n", true);
    for (int trailers = input.Byte() % 3; trailers > 0; --trailers)
        Append(out, "X-Trailer: t\r\n", true);
    Append(out, "\r\n", true);
    return out;
}

// A few changes to framing bytes: replace, delete, insert or double one. No
// line end or NUL lands inside a header value: that would be a header of its
// own, not framing.
std::string Mutate(const Rendered& rendered, vykfuzz::FuzzInput& input) {
    struct Change {
        std::size_t at;
        std::uint8_t op;
        char c;
    };
    std::vector<Change> changes;
    for (int n = 1 + input.Byte() % 4; n > 0 && !rendered.framing.empty(); --n) {
        const std::size_t at =
            rendered.framing[((input.Byte() << 8) | input.Byte()) % rendered.framing.size()];
        const bool inValue = std::find(rendered.inValues.begin(), rendered.inValues.end(), at) !=
                             rendered.inValues.end();
        const std::uint8_t op = input.Byte();
        char c = static_cast<char>(input.Byte());
        if (inValue && (c == '\r' || c == '\n' || c == 0)) c = 'x';
        changes.push_back({at, op, c});
    }
    // From the back, so that every offset still names the byte it was picked for.
    std::sort(changes.begin(), changes.end(),
              [](const Change& a, const Change& b) { return a.at > b.at; });
    std::string bytes = rendered.bytes;
    for (const Change& change : changes) {
        switch (change.op % 4) {
        case 0:
            bytes[change.at] = change.c;
            break;
        case 1:
            bytes.erase(change.at, 1);
            break;
        case 2:
            bytes.insert(change.at, 1, change.c);
            break;
        default:
            bytes.insert(change.at, 1, bytes[change.at]);
            break;
        }
    }
    return bytes;
}

// ---- an independent strict reader of one reply --------------------------------

struct Reader {
    const std::string& bytes;
    std::size_t at = 0;

    // A line up to LF, one CR before it dropped; none when no LF follows.
    std::optional<std::string> Line() {
        const auto lf = bytes.find('\n', at);
        if (lf == std::string::npos) return std::nullopt;
        std::string line = bytes.substr(at, lf - at);
        at = lf + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
};

// The body a strict reader takes from the reply, or none when the framing is broken.
std::optional<std::string> StrictBody(const std::string& bytes) {
    Reader reader{bytes};
    if (!reader.Line()) return std::nullopt; // the status line, never changed here
    std::vector<std::string> lines;
    while (true) {
        const auto line = reader.Line();
        if (!line) return std::nullopt;
        if (line->empty()) break;
        lines.push_back(*line);
    }
    const auto fields = vykfuzz::ReadFields(lines);
    const auto chunked = vykfuzz::ChunkedOf(fields);
    const auto length = vykfuzz::ContentLengthOf(fields);
    if (!chunked || !length) return std::nullopt;
    if (*chunked) {
        std::string body;
        while (true) {
            const auto line = reader.Line();
            if (!line) return std::nullopt;
            const std::string digits = vykfuzz::TrimControls(line->substr(0, line->find(';')));
            if (digits.empty()) return std::nullopt;
            std::uint64_t size = 0;
            for (char c : digits) {
                const int d = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
                if (d < 0 ||
                    size >
                        (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) >> 4))
                    return std::nullopt;
                size = size * 16 + static_cast<std::uint64_t>(d);
                if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                    return std::nullopt;
            }
            if (size == 0) break;
            if (bytes.size() - reader.at < size) return std::nullopt;
            body += bytes.substr(reader.at, size);
            reader.at += size;
            const auto end = reader.Line();
            if (!end || !end->empty()) return std::nullopt;
        }
        for (int trailers = 0;; ++trailers) {
            const auto line = reader.Line();
            if (!line || trailers > 255) return std::nullopt;
            if (line->empty()) return body;
        }
    }
    if (*length >= 0) {
        const auto n = static_cast<std::uint64_t>(*length);
        if (bytes.size() - reader.at < n) return std::nullopt;
        return bytes.substr(reader.at, n);
    }
    return bytes.substr(reader.at); // until the peer closes
}

std::optional<std::string> Get(TIdHTTP& http, const std::string& url) {
    TMemoryStream sink;
    try {
        http.GetToStream(url, sink);
    } catch (const Exception&) {
        return std::nullopt;
    }
    return sink.DataString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    const auto framing = static_cast<Framing>(settings % 3);
    const bool mutate = settings & 0x04;
    const bool keepOpen = (settings & 0x08) && framing != UntilClose;
    const std::uint8_t readSize = input.Byte();
    const std::uint8_t firstReadSize = input.Byte();
    std::string body;
    for (std::size_t length = input.Byte() * 4u + input.Byte() % 4; length > 0; --length)
        body += static_cast<char>(input.Byte());

    const Rendered rendered = Render(framing, body, input);
    const std::string reply = mutate ? Mutate(rendered, input) : rendered.bytes;
    const std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond";

    vyktest::MemoryIOHandler io({}, readSize == 0 ? 1 << 30 : readSize);
    io.FirstReadSize = firstReadSize;
    io.Replies = {reply, second};
    io.HoldOpen = keepOpen;
    TIdHTTP http;
    http.AttachHandler(&io);
    http.SetReadTimeout(1);
    const auto got = Get(http, "http://vendor.test/instal/Kalmin.exe");
    // To see what a failing input does: VYKFUZZ_SHOW=1 fuzz_http_framing <input>
    if (std::getenv("VYKFUZZ_SHOW"))
        std::fprintf(stderr, "reply %zu bytes:\n%s\nclient: %s\nstrict: %s\n", reply.size(),
                     reply.c_str(), got ? ("\"" + *got + "\"").c_str() : "failed",
                     StrictBody(reply) ? ("\"" + *StrictBody(reply) + "\"").c_str() : "refused");
    if (!mutate) {
        vykfuzz::Require(got.has_value(), "a well-framed reply failed");
        vykfuzz::Require(*got == body, "another body than the one framed");
    } else if (got) {
        const auto strict = StrictBody(reply);
        vykfuzz::Require(strict.has_value(), "a body accepted from broken framing");
        vykfuzz::Require(*got == *strict, "a body that a strict reader frames otherwise");
    }
    // Whatever the first reply left behind is never read as the second.
    const auto next = Get(http, "/instal/Kalmin.exe");
    vykfuzz::Require(next == std::optional<std::string>("second"),
                     "the second reply was not delivered whole");
    for (const auto& request : io.Requests())
        vykfuzz::CheckRequest(request, {false, "/instal/Kalmin.exe"});
    return 0;
}
