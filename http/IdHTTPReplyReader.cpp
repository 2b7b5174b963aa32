#include "http/IdHTTPReplyReader.h"

#include "host/ScopeExit.h"
#include "host/Stream.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPBodyDecoder.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandler.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

std::string ReadHttpLine(TIdIOHandler& io) {
    std::string line = io.ReadLine();
    if (io.LineTimedOut) throw EIdReadTimeout();
    return line;
}

int StatusCodeOf(const std::string& statusLine) {
    std::string rest;
    const auto space = statusLine.find(' ');
    if (space != std::string::npos) rest = Trim(statusLine.substr(space + 1));
    const std::string code = rest.substr(0, rest.find(' '));
    return TryDecimalToInt32(code).value_or(-1);
}

std::string ReadStatusLine(TIdIOHandler& io, int limit) {
    // Some servers send a line end more after an interim reply, or before the first.
    std::string line = ReadHttpLine(io);
    for (int blank = 1; line.empty(); ++blank) {
        if (blank > limit)
            throw EIdException(
                Format("Response has more than %d empty lines before its status line.", limit));
        line = ReadHttpLine(io);
    }
    return line;
}

void ReadHeaderBlock(TIdIOHandler& io, TIdHeaderList& lines, int limit) {
    // A block cut short by the peer's close is an incomplete response: the
    // connection's error passes on rather than ending the block quietly.
    lines.Clear();
    std::string line = ReadHttpLine(io);
    while (!line.empty() && lines.Count() < limit) {
        lines.Add(line);
        line = ReadHttpLine(io);
    }
    // Lines past the limit are never taken for the body. Dropping them could
    // lose the lines that frame the body, so such a reply is refused.
    if (!line.empty()) throw EIdException(Format("Response has more than %d header lines.", limit));
}

namespace {

// Pieces of the body below this size are gathered; larger ones go straight
// from the input queue to the stream.
constexpr std::size_t kDirectPiece = 16 * 1024;
constexpr std::size_t kGatherLimit = 64 * 1024;

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

// Only the body's bytes count as progress, not the chunk lines around them:
// the queue's own count is off while the decoder takes from it.
void FeedUntilDone(TIdIOHandler& io, TIdHTTPBodyDecoder& decoder, TGatheredWrites& writes) {
    TIdBuffer& queue = *io.InputQueue();
    const TScopeExit restore([&queue, counted = std::move(queue.OnBytesTaken)]() mutable {
        queue.OnBytesTaken = std::move(counted);
    });
    queue.OnBytesTaken = nullptr;
    const TIdHTTPBodyDecoder::TBodyBytes body = [&](const std::uint8_t* bytes, std::size_t count) {
        writes.Write(bytes, count);
        io.AddWork(wmRead, static_cast<std::int64_t>(count));
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
    if (announced >= 0) PresizeStream(target, announced);
    TGatheredWrites writes(target, decoder.Chunked());
    // Whatever happens, progress ends and the stream is cut to what was written.
    const auto cut = [&target] { CutStreamAtPosition(target); };
    try {
        io.StartWork(wmRead, std::max<std::int64_t>(announced, 0));
    } catch (...) {
        cut(); // a handler that aborts before a byte is read
        throw;
    }
    try {
        FeedUntilDone(io, decoder, writes);
        writes.Flush();
    } catch (...) {
        try {
            writes.Flush();
        } catch (...) {
        }
        try {
            io.FinishWork(wmRead);
        } catch (...) {
        }
        try {
            cut();
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

void ReadResponseBody(TIdIOHandler& io, const TIdResponseHeaderInfo& response,
                      TIdHTTPCompressor* compressor, TStream& sink) {
    const bool deflate = compressor && response.ContentEncoding == "deflate";
    const bool gzip = compressor && response.ContentEncoding == "gzip";
    std::unique_ptr<TMemoryStream> compressed;
    if (deflate || gzip) compressed = std::make_unique<TMemoryStream>();
    TStream& target = compressed ? *compressed : sink;
    using TFraming = TIdHTTPBodyDecoder::TFraming;
    if (response.ChunkedTransfer()) {
        TIdHTTPBodyDecoder decoder(TFraming::Chunked, 0, io.MaxLineLength);
        ReadFramedBody(io, decoder, target, -1);
    } else if (response.ContentLength() > 0) {
        TIdHTTPBodyDecoder decoder(TFraming::Length, response.ContentLength(), 0);
        ReadFramedBody(io, decoder, target, response.ContentLength());
    } else if (!response.ContentLengthKnown()) {
        TIdHTTPBodyDecoder decoder(TFraming::UntilClose, 0, 0);
        ReadFramedBody(io, decoder, target, -1);
        // Over TLS only the peer's close_notify says that the body is whole;
        // a bare close may be anyone's cut.
        if (io.ClosedWithoutNotify()) throw EIdTLSTruncated();
    }
    if (compressed) {
        compressed->SetPosition(0);
        if (deflate)
            compressor->DecompressDeflateStream(*compressed, sink);
        else
            compressor->DecompressGZipStream(*compressed, sink);
    }
}
