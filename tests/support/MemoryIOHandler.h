#pragma once
// An I/O handler without sockets for tests: a scripted peer. Reply holds what
// the peer has sent on the current connection; each request the client
// completes releases the next of Replies onto the connection it came on. A new
// connection starts empty: what the last one did not deliver is gone. Every
// receive returns at most MaxReadSize bytes. Once the connection's bytes are
// read the peer closes, or, with HoldOpen, sends nothing more. Every send and
// every complete request is recorded, and the Nth receive or send can fail.

#include "net/IdIOHandler.h"

#include <deque>
#include <string>
#include <vector>

namespace vyktest {

class MemoryIOHandler : public TIdIOHandler {
public:
    explicit MemoryIOHandler(std::string reply = {}, int maxReadSize = 1 << 30);

    void OpenHandler() override;
    bool AwaitReadable(std::int32_t timeLimit) override;
    std::size_t MaxSendBlock() const override;

    // Bytes the peer has sent and the client not yet read (appendable between reads).
    std::string Reply;
    // One per request, in order; a request after the last gets nothing.
    std::deque<std::string> Replies;
    // The peer closes a connection once it has delivered one reply from Replies.
    bool ClosesAfterReply = false;
    int MaxReadSize;
    int FirstReadSize = 0; // when above 0, the first receive returns at most this many bytes
    bool HoldOpen = false;
    // With HoldOpen: a wait that finds nothing ends as its time limit would,
    // at once, rather than returning early to a caller that waits again.
    bool StallTimesOut = false;
    int FailOnRead = 0;           // 1-based receive that raises a connection reset; 0: never
    int FailOnWrite = 0;          // 1-based send that raises a connection reset; 0: never
    std::size_t SendLimit = 0;    // above 0: the largest block one send takes
    std::int32_t LongestWait = 0; // the longest time limit of a wait for bytes

    // A request head with its body (by Content-Length), and where it went.
    struct Request {
        std::string bytes;
        int connection; // 1-based, counted by opens
        std::string host;
        std::int32_t port;
    };

    std::string Written() const;
    const std::vector<std::string>& Sends() const { return sends_; }
    const std::vector<Request>& Requests() const { return requests_; }
    int Opens() const { return opens_; }

protected:
    bool TransportAllocated() const override { return open_; }
    void CloseTransport() override { open_ = false; }
    std::int32_t ReceiveFromTransport(TIdBytes& buffer, std::int32_t timeLimit) override;
    std::int32_t SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                 std::int32_t count) override;

private:
    void CollectRequests();

    bool open_ = false;
    bool peerDone_ = false; // the peer has closed its side of this connection
    bool repliedHere_ = false;
    int reads_ = 0;
    int writes_ = 0;
    int opens_ = 0;
    std::string incoming_; // this connection's bytes not yet part of a complete request
    std::vector<std::string> sends_;
    std::vector<Request> requests_;
};

} // namespace vyktest
