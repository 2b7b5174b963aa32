#pragma once
// An I/O handler without sockets for tests: it serves scripted reply bytes,
// at most MaxReadSize per receive, records every send, and can fail on the Nth
// receive or send. After the reply it reports the peer's close, or, with
// HoldOpen, looks like a peer that sends nothing more.

#include "net/IdIOHandler.h"

#include <string>
#include <vector>

namespace vyktest {

class MemoryIOHandler : public TIdIOHandler {
public:
    explicit MemoryIOHandler(std::string reply = {}, int maxReadSize = 1 << 30);

    void OpenHandler() override;
    bool AwaitReadable(std::int32_t timeLimit) override;

    // Reply bytes still to serve (appendable between reads).
    std::string Reply;
    int MaxReadSize;
    int FirstReadSize = 0;  // when above 0, the first receive returns at most this many bytes
    bool HoldOpen = false;
    int FailOnRead = 0;   // 1-based receive that raises a connection reset; 0: never
    int FailOnWrite = 0;  // 1-based send that raises a connection reset; 0: never

    std::string Written() const;
    const std::vector<std::string>& Sends() const { return sends_; }
    int Opens() const { return opens_; }

protected:
    bool TransportAllocated() const override { return open_; }
    void CloseTransport() override { open_ = false; }
    std::int32_t ReceiveFromTransport(TIdBytes& buffer) override;
    std::int32_t SendToTransport(const TIdBytes& buffer, std::int32_t offset, std::int32_t count) override;

private:
    bool open_ = false;
    int reads_ = 0;
    int writes_ = 0;
    int opens_ = 0;
    std::vector<std::string> sends_;
};

} // namespace vyktest
