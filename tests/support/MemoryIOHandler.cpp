#include "tests/support/MemoryIOHandler.h"

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"

#include <algorithm>

namespace vyktest {

MemoryIOHandler::MemoryIOHandler(std::string reply, int maxReadSize)
    : Reply(std::move(reply)), MaxReadSize(maxReadSize) {}

void MemoryIOHandler::OpenHandler() {
    TIdIOHandler::OpenHandler();
    if (opens_ > 0) Reply.clear();
    open_ = true;
    peerDone_ = false;
    repliedHere_ = false;
    incoming_.clear();
    ++opens_;
}

bool MemoryIOHandler::AwaitReadable(std::int32_t timeLimit) {
    LongestWait = std::max(LongestWait, timeLimit);
    const bool readable = !Reply.empty() || !HoldOpen || peerDone_;
    if (!readable && StallTimesOut && timeLimit != 0) throw EIdReadTimeout();
    return readable;
}

std::size_t MemoryIOHandler::MaxSendBlock() const {
    return SendLimit > 0 ? SendLimit : TIdIOHandler::MaxSendBlock();
}

std::int32_t MemoryIOHandler::ReceiveFromTransport(TIdBytes& buffer, std::int32_t) {
    if (++reads_ == FailOnRead)
        throw EIdSocketError(Id_WSAECONNRESET, SocketErrorText(Id_WSAECONNRESET));
    const int cap = reads_ == 1 && FirstReadSize > 0 ? FirstReadSize : MaxReadSize;
    const std::size_t n = std::min({buffer.size(), Reply.size(), static_cast<std::size_t>(cap)});
    std::copy_n(Reply.begin(), n, buffer.begin());
    Reply.erase(0, n);
    if (Reply.empty() && repliedHere_ && ClosesAfterReply) peerDone_ = true;
    return static_cast<std::int32_t>(n);
}

std::int32_t MemoryIOHandler::SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                              std::int32_t count) {
    if (++writes_ == FailOnWrite)
        throw EIdSocketError(Id_WSAECONNRESET, SocketErrorText(Id_WSAECONNRESET));
    sends_.emplace_back(reinterpret_cast<const char*>(buffer.data()) + offset,
                        static_cast<std::size_t>(count));
    incoming_ += sends_.back();
    CollectRequests();
    return count;
}

// A request is complete at the empty line after its head and, when the head
// names a length, that many bytes later.
void MemoryIOHandler::CollectRequests() {
    while (true) {
        const auto headEnd = incoming_.find("\r\n\r\n");
        if (headEnd == std::string::npos) return;
        std::size_t end = headEnd + 4;
        const std::string head = LowerCase(incoming_.substr(0, headEnd + 2));
        if (const auto at = head.find("\r\ncontent-length:"); at != std::string::npos) {
            const auto from = at + 17;
            end += static_cast<std::size_t>(std::max<std::int64_t>(
                0,
                TryDecimalToInt64(head.substr(from, head.find("\r\n", from) - from)).value_or(0)));
            if (incoming_.size() < end) return;
        }
        requests_.push_back({incoming_.substr(0, end), opens_, Host, Port});
        incoming_.erase(0, end);
        if (peerDone_ || (ClosesAfterReply && repliedHere_) || Replies.empty()) continue;
        Reply += Replies.front();
        Replies.pop_front();
        repliedHere_ = true;
    }
}

std::string MemoryIOHandler::Written() const {
    std::string all;
    for (const auto& s : sends_) all += s;
    return all;
}

} // namespace vyktest
