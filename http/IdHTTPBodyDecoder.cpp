#include "http/IdHTTPBodyDecoder.h"

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"
#include "net/IdIOHandler.h"
#include "host/Stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Pieces of the body below this size are gathered; larger ones go straight
// from the input queue to the stream.
constexpr std::size_t kDirectPiece = 16 * 1024;
constexpr std::size_t kGatherLimit = 64 * 1024;

// The value of a size line, or none when it is not one.
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

TIdHTTPBodyDecoder::TIdHTTPBodyDecoder(TFraming framing, std::int64_t length,
                                       std::int32_t maxLine)
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
        if (line_.empty()) state_ = TState::Done;
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

namespace {

// Gathers small pieces of the body for the target, written in larger ones.
class TGatheredWrites {
public:
    TGatheredWrites(TStream& target, bool gather) : target_(target), gather_(gather) {}

    void Write(const std::uint8_t* bytes, std::size_t count) {
        if (!gather_ || count >= kDirectPiece) {
            Flush();
            target_.WriteBuffer(bytes, static_cast<std::int64_t>(count));
            return;
        }
        if (gathered_.capacity() == 0) gathered_.reserve(kGatherLimit);
        gathered_.insert(gathered_.end(), bytes, bytes + count);
        if (gathered_.size() >= kGatherLimit) Flush();
    }

    // Emptied also when the write fails, so that no byte is written twice.
    void Flush() {
        if (gathered_.empty()) return;
        const TIdBytes pending = std::exchange(gathered_, {});
        target_.WriteBuffer(pending.data(), static_cast<std::int64_t>(pending.size()));
    }

private:
    TStream& target_;
    bool gather_;
    TIdBytes gathered_;
};

void Presize(TStream& target, std::int64_t announced) {
    const std::int64_t position = target.Position();
    if (announced > std::numeric_limits<std::int64_t>::max() - position) throw EIntOverflow();
    target.SetSize(position + std::min(announced, kPresizeLimit));
    target.SetPosition(position);
}

void FeedUntilDone(TIdIOHandler& io, TIdHTTPBodyDecoder& decoder, TGatheredWrites& writes) {
    TIdBuffer& queue = *io.InputQueue();
    const TIdHTTPBodyDecoder::TBodyBytes body = [&writes](const std::uint8_t* bytes,
                                                          std::size_t count) {
        writes.Write(bytes, count);
    };
    while (!decoder.Done()) {
        if (queue.Size() == 0) {
            try {
                io.ReceiveIntoQueue(true, -1, true);
            } catch (const EIdConnClosedGracefully&) {
                decoder.Closed();
                if (!decoder.Done()) throw;
            }
            continue;
        }
        const std::size_t taken = decoder.Put(queue.StorageData() + queue.FrontOffset(),
                                              static_cast<std::size_t>(queue.Size()), body);
        queue.DropFront(static_cast<std::int32_t>(taken));
    }
}

} // namespace

void ReadFramedBody(TIdIOHandler& io, TIdHTTPBodyDecoder& decoder, TStream& target,
                    std::int64_t announced) {
    if (!io.InputQueue()) throw EIdException(kNotConnectedText);
    if (announced >= 0) Presize(target, announced);
    TGatheredWrites writes(target, decoder.Chunked());
    // Whatever happens, progress ends and the stream is cut to what was written.
    const auto cut = [&target] {
        if (target.Size() > target.Position()) target.SetSize(target.Position());
    };
    io.StartWork(wmRead, std::max<std::int64_t>(announced, 0));
    try {
        FeedUntilDone(io, decoder, writes);
        writes.Flush();
    } catch (...) {
        try {
            writes.Flush();
        } catch (...) {
        }
        try {
            cut();
            io.FinishWork(wmRead);
        } catch (...) {
        }
        throw;
    }
    try {
        io.FinishWork(wmRead);
    } catch (...) {
        cut();
        throw;
    }
    cut();
}
