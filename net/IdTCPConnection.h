#pragma once
// A connection: the handler it reads and writes through (owned when it made the
// handler itself, merely watched when one was attached from outside), the
// disconnect notification and the command/reply records.

#include "net/IdComponent.h"
#include "net/IdIOHandler.h"
#include "net/IdReplyRFC.h"
#include "net/IdTransferWatch.h"

#include <functional>
#include <memory>
#include <string>

class TIdIOHandlerSocket;

class TIdTCPConnection : public TIdComponent {
public:
    using TNotifyEvent = std::function<void(TIdComponent* sender)>;

    explicit TIdTCPConnection(TIdBaseComponent* owner = nullptr);
    ~TIdTCPConnection() override;

    TIdIOHandler* IOHandler() const { return ioHandler_; }
    TIdIOHandlerSocket* Socket() const { return socket_; }
    bool OwnsHandler() const { return static_cast<bool>(ownedHandler_); }
    // Attaches a handler from outside (watched, not owned); none detaches.
    virtual void AttachHandler(TIdIOHandler* handler);

    // Bounds on one whole transfer, over all its connections (see
    // TIdTransferWatch): milliseconds for all of it, and a pace of bytes per
    // second over seconds; 0 sets no bound. StartTransfer starts their clocks
    // and EndTransfer lifts them: a client does so around each request.
    std::int32_t TransferTimeout = 0;
    std::int32_t LowSpeedLimit = 0;
    std::int32_t LowSpeedTime = 0;
    // Set from another thread, ends the transfer under way at its next wait
    // with EIdTransferAborted; must outlive the transfers it watches.
    const std::atomic<bool>* AbortSignal = nullptr;
    void StartTransfer();
    void EndTransfer() { transferWatch_ = {}; }

    bool IsConnected();
    void CloseConnection(bool notifyPeer = true);
    void CheckPeerClosed(bool raiseIfClosed);

    // Command/reply use: one line out, a numeric reply back.
    int SendCmd(const std::string& command);
    void GetResponse();
    const TIdReplyRFC& Greeting() const { return greeting_; }
    const TIdReplyRFC& LastCmdResult() const { return lastCmdResult_; }

    TNotifyEvent OnDisconnected;

protected:
    void Notification(TIdBaseComponent* component) override;
    // Makes the connection own a handler it created, then attaches it.
    void AdoptHandler(std::unique_ptr<TIdIOHandler> handler);
    virtual void NotifyPeerBeforeClose() {}
    virtual void DoOnDisconnected();
    // Copies the connection's settings into a newly attached handler.
    virtual void HandlerAttached() {}

private:
    TIdIOHandler* ioHandler_ = nullptr;
    TIdIOHandlerSocket* socket_ = nullptr;
    std::unique_ptr<TIdIOHandler> ownedHandler_;
    TIdTransferWatch transferWatch_;
    TIdReplyRFC greeting_;
    TIdReplyRFC lastCmdResult_;
};
