#pragma once
// An I/O handler carries all reading and writing of one connection. Received
// bytes go into the input queue first and every read takes from its front;
// written bytes go straight out or, while output buffering is on, into an
// output buffer that leaves in one piece. A subclass supplies the transport
// through the protected primitives (socket, or scripted bytes in tests).

#include "net/IdBuffer.h"
#include "net/IdComponent.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

class TStream;
class TIdConnectionIntercept;
class TIdTransferWatch;

// Makes room in stream for count bytes from its position (raising EIntOverflow
// when they could not fit), and the position stays. Room is made at once only
// up to a bound: an announced count is the peer's word, no reason to reserve
// 100 GB of disk or memory before a byte has arrived; more grows with writes.
void PresizeStream(TStream& stream, std::int64_t count);
// Ends stream at its position: room made ahead and not written is given back.
void CutStreamAtPosition(TStream& stream);

enum TIdMaxLineAction { maException = 0, maSplit = 1 };
// How a connection comes to TLS: not at all, with its connect, or later through
// StartTLS (inside a proxy's tunnel).
enum class TIdTLSStart { None, OnConnect, Later };

class TIdIOHandler : public TIdComponent {
public:
    explicit TIdIOHandler(TIdBaseComponent* owner = nullptr);
    ~TIdIOHandler() override;

    // --- Open, close and closed-connection detection ---
    virtual void OpenHandler();
    virtual void CloseHandler();
    virtual bool IsConnected();
    // Closes a transport the peer has left; raises EIdConnClosedGracefully when
    // raiseIfClosed and nothing is queued (or ignoreQueue).
    virtual void DetectClosed(bool raiseIfClosed, bool ignoreQueue);
    void MarkPeerClosed() { PeerClosed = true; }
    [[noreturn]] void RaisePeerClosed();
    // Moves one receive into the input queue: >0 bytes added, 0 closed or no
    // transport, -1 when the time limit passed (-1: ReadTimeout, -2: no limit).
    virtual std::int32_t ReceiveIntoQueue(bool raiseIfDisconnected = true,
                                          std::int32_t timeLimit = -1, bool raiseOnTimeout = true);
    virtual bool AwaitReadable(std::int32_t timeLimit);
    // True when the last close of a secured transport came without the peer's
    // close_notify, so that a body read until the close may be cut short.
    virtual bool ClosedWithoutNotify() const { return false; }

    // --- TLS ---
    // Set before connecting. A handler without TLS refuses all but None with
    // EIdIOHandlerPropInvalid.
    virtual void PlanTLS(TIdTLSStart start);
    // Runs the handshake for serverName over the open connection; a handler
    // without TLS refuses with EIdIOHandlerPropInvalid.
    virtual void StartTLS(const std::string& serverName);

    // --- Reading ---
    std::string ReadLine(const std::string& terminator = "\n", std::int32_t timeLimit = -1,
                         std::int32_t maxLength = -1);
    void ReadCount(TIdBytes& target, std::int32_t count, bool append = true);
    // A short read with a known count raises EIdConnClosedGracefully after
    // writing what arrived; untilClose ends normally at the peer's close.
    void ReadIntoStream(TStream& stream, std::int64_t count = -1, bool untilClose = false);
    char ReadChar();
    std::int32_t ReadInt32(bool convertFromNetOrder = true);
    std::int64_t ReadInt64(bool convertFromNetOrder = true);
    std::string ReadUntilClose();
    std::string ReadLineWithRetries(int maxTries);
    // Lines up to endText into lines (or written with CR LF into stream).
    void CaptureLines(std::vector<std::string>* lines, TStream* stream,
                      const std::string& endText = ".", bool unescapeDots = true,
                      int maxLines = -1);
    std::string InteractiveReadLine(bool echo = false, std::int32_t maxLength = -1);
    void PollData(std::int32_t timeLimit);
    std::string QueueAsText();

    // --- Writing ---
    void WriteBytes(const TIdBytes& bytes);
    void WriteText(const std::string& text);
    void WriteLine(const std::string& text = {});
    void WriteFromStream(TStream& stream, std::int64_t size = 0, bool sendSize = false);
    virtual void SendBytesNow(TIdBytes bytes);
    void WriteChar(char c);
    void WriteInt32(std::int32_t value, bool convertToNetOrder = true);
    void WriteInt64(std::int64_t value, bool convertToNetOrder = true);
    void WriteLines(const std::vector<std::string>& lines, bool writeCount = false);
    // Raises EIdFileNotFound when the file is missing; returns the size sent.
    std::int64_t WriteFile(const std::string& fileName);

    void OpenOutputBuffer(std::int32_t threshold = -1);
    void FlushOutputBuffer(std::int32_t count = -1);
    void CloseOutputBuffer();
    void ClearOutputBuffer();
    void CancelOutputBuffer();
    // The largest block one send takes: the transport counts in 32 bits.
    virtual std::size_t MaxSendBlock() const {
        return static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    }

    // --- Settings ---
    std::string Host;
    std::int32_t Port = 0;
    std::int32_t ConnectTimeout = 0;
    std::int32_t ReadTimeout = -1;
    std::int32_t RecvBufferSize = 32768;
    std::int32_t SendBufferSize = 32768;
    std::int32_t MaxLineLength = 16384;
    TIdMaxLineAction MaxLineAction = maException;
    bool WideCounts = false;
    virtual std::string Destination() const { return destination_; }
    virtual void SetDestination(const std::string& value) { destination_ = value; }
    TIdConnectionIntercept* Intercept() const { return intercept_; }
    void SetIntercept(TIdConnectionIntercept* intercept);
    // The bounds of the transfer under way: set by the connection the handler
    // is attached to, which owns them, and cleared when it lets go.
    TIdTransferWatch* TransferWatch = nullptr;

    // --- State ---
    bool HandlerOpen = false;
    bool PeerClosed = false;
    bool LineWasSplit = false;
    bool LineTimedOut = false;
    TIdBuffer* InputQueue() const { return inputQueue_.get(); }
    TIdBuffer* OutputBuffer() const { return outputBuffer_.get(); }

protected:
    void Notification(TIdBaseComponent* component) override;
    // Every wait for data goes through here: wait(ms) for at most limit ms
    // (-2: no limit, 0: look once), cut short by the transfer's bounds, whose
    // error is raised once one has passed. True when data is there.
    bool WaitWithinTransfer(std::int32_t limit, const std::function<bool(std::int32_t)>& wait);

    // Transport primitives.
    virtual bool TransportAllocated() const { return false; }
    virtual void CloseTransport() {}
    // Bytes received into buffer; 0 when the peer has closed, -1 when the time
    // limit (as for ReceiveIntoQueue, -2: none) passed within the receive.
    virtual std::int32_t ReceiveFromTransport(TIdBytes& buffer, std::int32_t timeLimit) {
        (void)buffer;
        (void)timeLimit;
        return 0;
    }
    // Bytes of buffer[offset, offset + count) the transport took.
    virtual std::int32_t SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                         std::int32_t count) {
        (void)buffer;
        (void)offset;
        return count;
    }

private:
    void CheckSendable(std::size_t size) const;

    std::unique_ptr<TIdBuffer> inputQueue_;
    std::unique_ptr<TIdBuffer> outputBuffer_;
    std::int32_t outputThreshold_ = -1;
    std::string destination_;
    TIdConnectionIntercept* intercept_ = nullptr;
};

// The handler kind that connections create when none is attached.
using TIdIOHandlerFactory = std::function<std::unique_ptr<TIdIOHandler>()>;
void SetDefaultHandlerClass(const std::string& name, TIdIOHandlerFactory factory);
std::unique_ptr<TIdIOHandler> CreateDefaultHandler();
std::vector<std::string> KnownHandlerClasses();
