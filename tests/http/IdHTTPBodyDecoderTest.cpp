#include "http/IdHTTPBodyDecoder.h"

#include "net/IdException.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TFraming = TIdHTTPBodyDecoder::TFraming;

struct DecoderCase {
    const char* name;
    TFraming framing;
    std::int64_t length;
    std::string input;
    std::string body;  // what comes out, also before an error
    std::string after; // the input a whole body leaves: the next reply's
    std::string error; // empty: done; "open": neither done nor failed
};

// Feeds the pieces in order; the outcome in the words of a DecoderCase.
DecoderCase Feed(const DecoderCase& c, const std::vector<std::size_t>& cuts) {
    TIdHTTPBodyDecoder decoder(c.framing, c.length, 64);
    DecoderCase out{c.name, c.framing, c.length, c.input, "", "", "open"};
    const auto body = [&out](const std::uint8_t* bytes, std::size_t count) {
        out.body.append(reinterpret_cast<const char*>(bytes), count);
    };
    std::size_t at = 0;
    try {
        for (std::size_t i = 0; i <= cuts.size() && !decoder.Done(); ++i) {
            const std::size_t end = i < cuts.size() ? cuts[i] : c.input.size();
            const auto* data = reinterpret_cast<const std::uint8_t*>(c.input.data());
            const std::size_t taken = decoder.Put(data + at, end - at, body);
            EXPECT_TRUE(taken == end - at || decoder.Done()) << "left bytes before its end";
            at += taken;
        }
        if (!decoder.Done()) decoder.Closed();
        if (decoder.Done()) out.error.clear();
    } catch (const EIdException& e) {
        out.error = e.what();
    }
    out.after = c.input.substr(at);
    return out;
}

std::string Repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

const std::string kTwoChunks = "1a;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n 1 \r\n!\r\n0\r\n";

} // namespace

// Every split of the input in two, and byte by byte, gives the same body, the
// same leftover and the same error.
TEST(TIdHTTPBodyDecoder, FramingsAtEverySplit) {
    const std::vector<DecoderCase> cases = {
        {"length", TFraming::Length, 5, "helloHTTP/1.1", "hello", "HTTP/1.1", ""},
        {"length cut short", TFraming::Length, 9, "hello", "hello", "", "open"},
        {"until close", TFraming::UntilClose, 0, "all of it", "all of it", "", ""},
        {"chunks, extension and blanks", TFraming::Chunked, 0, kTwoChunks + "\r\nnext",
         "abcdefghijklmnopqrstuvwxyz!", "next", ""},
        {"chunks without CR", TFraming::Chunked, 0, "3\nabc\n0\n\nX", "abc", "X", ""},
        {"trailers", TFraming::Chunked, 0, "2\r\nok\r\n0\r\n" + Repeated("t\n", 255) + "\n", "ok",
         "", ""},
        {"no last chunk", TFraming::Chunked, 0, "3\r\nabc\r\n", "abc", "", "open"},
        {"size that is no number", TFraming::Chunked, 0, "zz\r\nabc", "", "",
         "Invalid chunk size line in response: \"zz\""},
        {"size after a prefix", TFraming::Chunked, 0, "0x5\r\nhello", "", "",
         "Invalid chunk size line in response: \"0x5\""},
        {"size that would wrap", TFraming::Chunked, 0, "10000000000000005\r\n", "", "",
         "Invalid chunk size line in response: \"10000000000000005\""},
        {"size that would wrap, upper case", TFraming::Chunked, 0, "1000000000000000A\r\n", "", "",
         "Invalid chunk size line in response: \"1000000000000000A\""},
        {"size above 2^63", TFraming::Chunked, 0, "8000000000000000\r\n", "", "",
         "Invalid chunk size line in response: \"8000000000000000\""},
        {"size and more after a blank", TFraming::Chunked, 0, "5 x\r\nhello", "", "",
         "Invalid chunk size line in response: \"5 x\""},
        {"the largest size", TFraming::Chunked, 0, "7fffffffffffffff\r\nab", "ab", "", "open"},
        {"data longer than its size", TFraming::Chunked, 0, "2\r\nabcd\r\n0\r\n\r\n", "ab", "",
         "Chunk data longer than its size line in response: \"cd\""},
        {"a line above the limit", TFraming::Chunked, 0, "1;" + std::string(63, 'e') + "\r\n", "",
         "", "Max line length exceeded."},
        {"a line at the limit", TFraming::Chunked, 0,
         "1;" + std::string(61, 'e') + "\r\nZ\r\n0\r\n\r\n", "Z", "", ""},
        {"too many trailers", TFraming::Chunked, 0, "0\r\n" + Repeated("t\n", 256), "", "",
         "Response has more than 255 trailer lines."},
    };
    for (const DecoderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto check = [&c](const DecoderCase& got, const std::string& how) {
            EXPECT_EQ(got.body, c.body) << how;
            if (c.error.empty()) {
                EXPECT_EQ(got.after, c.after) << how;
            }
            EXPECT_EQ(got.error, c.error) << how;
        };
        std::vector<std::size_t> bytes;
        for (std::size_t i = 1; i < c.input.size(); ++i) bytes.push_back(i);
        check(Feed(c, bytes), "byte by byte");
        for (std::size_t split = 0; split <= c.input.size(); ++split)
            check(Feed(c, {split}), "split at " + std::to_string(split));
    }
}
