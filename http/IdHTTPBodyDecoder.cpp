#include "http/IdHTTPBodyDecoder.h"

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The value of a size line; raises for a line that is not one.
std::int64_t ChunkSize(const std::string& line) {
    // Blanks may stand around the size, but other bytes there are a framing
    // the server did not mean ("1a x" is no size of 0x1a).
    const std::string digits = Trim(line.substr(0, line.find(';')));
    std::uint64_t size = 0;
    bool valid = !digits.empty();
    for (char c : digits) {
        const int d = HexDigit(c);
        // Checked before it grows, so that no size wraps round to a small one.
        const auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (d < 0 || size > (largest - d) / 16) {
            valid = false;
            break;
        }
        size = size * 16 + static_cast<std::uint64_t>(d);
    }
    if (!valid)
        throw EIdException("Invalid chunk size line in response: \"" +
                           ShownText(line.substr(0, 40)) + "\"");
    return static_cast<std::int64_t>(size);
}

} // namespace

TIdHTTPBodyDecoder::TIdHTTPBodyDecoder(TFraming framing, std::int64_t length, std::int32_t maxLine)
    : framing_(framing), maxLine_(maxLine) {
    switch (framing) {
    case TFraming::Length:
        remaining_ = std::max<std::int64_t>(length, 0);
        state_ = remaining_ > 0 ? TState::Data : TState::Done;
        break;
    case TFraming::Chunked:
        state_ = TState::SizeLine;
        break;
    case TFraming::UntilClose:
        remaining_ = std::numeric_limits<std::int64_t>::max();
        state_ = TState::Data;
        break;
    }
}

std::size_t TIdHTTPBodyDecoder::Put(const std::uint8_t* data, std::size_t count,
                                    const TBodyBytes& body) {
    std::size_t taken = 0;
    while (taken < count && state_ != TState::Done) {
        if (state_ != TState::Data) {
            taken += PutLine(data + taken, count - taken);
            continue;
        }
        const auto piece = static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(remaining_), count - taken));
        body(data + taken, piece);
        taken += piece;
        if (framing_ == TFraming::UntilClose) continue;
        remaining_ -= static_cast<std::int64_t>(piece);
        if (remaining_ == 0)
            state_ = framing_ == TFraming::Chunked ? TState::DataEnd : TState::Done;
    }
    return taken;
}

void TIdHTTPBodyDecoder::Closed() {
    if (framing_ == TFraming::UntilClose) state_ = TState::Done;
}

std::size_t TIdHTTPBodyDecoder::PutLine(const std::uint8_t* data, std::size_t count) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(data, '\n', count));
    const std::size_t piece = end ? static_cast<std::size_t>(end - data) : count;
    if (maxLine_ > 0 && line_.size() + piece > static_cast<std::size_t>(maxLine_))
        throw EIdReadLnMaxLineLengthExceeded();
    line_.append(reinterpret_cast<const char*>(data), piece);
    if (!end) return count;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    LineEnded();
    line_.clear();
    return piece + 1;
}

void TIdHTTPBodyDecoder::LineEnded() {
    switch (state_) {
    case TState::SizeLine:
        SizeLineEnded();
        break;
    case TState::DataEnd:
        // Anything before the line end means the size and the data disagree.
        if (!line_.empty())
            throw EIdException("Chunk data longer than its size line in response: \"" +
                               ShownText(line_.substr(0, 40)) + "\"");
        state_ = TState::SizeLine;
        break;
    case TState::Trailer:
        // Left unread, trailer lines would be taken for the next reply on a
        // kept connection.
        if (line_.empty())
            state_ = TState::Done;
        else if (++trailers_ > kMaxTrailerLines)
            throw EIdException(
                Format("Response has more than %d trailer lines.", kMaxTrailerLines));
        break;
    case TState::Data:
    case TState::Done:
        break;
    }
}

void TIdHTTPBodyDecoder::SizeLineEnded() {
    remaining_ = ChunkSize(line_);
    state_ = remaining_ > 0 ? TState::Data : TState::Trailer;
}
