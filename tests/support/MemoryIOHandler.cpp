#include "tests/support/MemoryIOHandler.h"

#include "net/IdExceptionCore.h"

#include <algorithm>

namespace vyktest {

MemoryIOHandler::MemoryIOHandler(std::string reply, int maxReadSize)
    : Reply(std::move(reply)), MaxReadSize(maxReadSize) {}

void MemoryIOHandler::OpenHandler() {
    TIdIOHandler::OpenHandler();
    open_ = true;
    ++opens_;
}

bool MemoryIOHandler::AwaitReadable(std::int32_t) { return !Reply.empty() || !HoldOpen; }

std::int32_t MemoryIOHandler::ReceiveFromTransport(TIdBytes& buffer) {
    if (++reads_ == FailOnRead) throw EIdSocketError(10054, SocketErrorText(10054));
    const int cap = reads_ == 1 && FirstReadSize > 0 ? FirstReadSize : MaxReadSize;
    const std::size_t n = std::min({buffer.size(), Reply.size(), static_cast<std::size_t>(cap)});
    std::copy_n(Reply.begin(), n, buffer.begin());
    Reply.erase(0, n);
    return static_cast<std::int32_t>(n);
}

std::int32_t MemoryIOHandler::SendToTransport(const TIdBytes& buffer, std::int32_t offset, std::int32_t count) {
    if (++writes_ == FailOnWrite) throw EIdSocketError(10054, SocketErrorText(10054));
    sends_.emplace_back(reinterpret_cast<const char*>(buffer.data()) + offset, static_cast<std::size_t>(count));
    return count;
}

std::string MemoryIOHandler::Written() const {
    std::string all;
    for (const auto& s : sends_) all += s;
    return all;
}

} // namespace vyktest
