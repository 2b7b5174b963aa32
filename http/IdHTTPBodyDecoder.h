#pragma once
// The framing of a reply's body as a push decoder: the bytes after the head go
// in, in pieces of any size; the body's bytes come out through a callback, and
// Done() says when the body is whole. A framing error is raised. The decoder
// owns no connection and no stream, so any split of the input gives the same
// body and the same error.
//
// A chunked body, as it is read here (lines end at LF, a CR before it is
// dropped; no line may be longer than the line limit):
//   chunked-body = *chunk last-chunk *trailer-line empty-line
//   chunk        = size-line data empty-line
//   size-line    = [blanks] 1*HEXDIG [blanks] [";" extensions]
//   last-chunk   = a size-line of value 0
// The size ends at the first ";" and must fit in 63 bits; extensions are
// ignored. Anything on the line after a chunk's data is an error, and at most
// kMaxTrailerLines trailer lines are read (and dropped).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class TIdHTTPBodyDecoder {
public:
    using TBodyBytes = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
    enum class TFraming { Length, Chunked, UntilClose };

    static constexpr int kMaxTrailerLines = 255;

    // length is used by TFraming::Length only; maxLine below 1 sets no limit.
    TIdHTTPBodyDecoder(TFraming framing, std::int64_t length, std::int32_t maxLine);

    // Takes bytes from the front of data and hands the body's on to body;
    // returns how many it took, which is fewer than count only once Done().
    std::size_t Put(const std::uint8_t* data, std::size_t count, const TBodyBytes& body);
    bool Done() const { return state_ == TState::Done; }
    bool Chunked() const { return framing_ == TFraming::Chunked; }
    // The peer closed: a body read until the close is whole now.
    void Closed();

private:
    enum class TState { Data, SizeLine, DataEnd, Trailer, Done };

    std::size_t PutLine(const std::uint8_t* data, std::size_t count);
    void LineEnded();
    void SizeLineEnded();

    TFraming framing_;
    TState state_;
    std::int64_t remaining_ = 0;
    std::int32_t maxLine_;
    std::string line_;
    int trailers_ = 0;
};
