#pragma once
// The stack handler with TLS on top: after the socket connects (or, through a
// proxy's tunnel, when StartTLS is called) every byte passes through a TLS
// session of the platform's library. Reads, writes, the input queue, time
// limits, progress and closing behave as on a plain socket. With UseTLS off
// and no StartTLS the handler is a plain socket, so one handler serves both
// kinds of URL.

#include "net/IdIOHandlerStack.h"
#include "net/IdTLSEngine.h"

#include <functional>
#include <memory>
#include <string>

class TIdIOHandlerSecure : public TIdIOHandlerStack {
public:
    explicit TIdIOHandlerSecure(TIdBaseComponent* owner = nullptr);
    ~TIdIOHandlerSecure() override;

    // Set before connecting: the connect then ends with the handshake to Host.
    bool UseTLS = false;
    void PlanTLS(TIdTLSStart start) override { UseTLS = start == TIdTLSStart::OnConnect; }
    // A PEM file of further trust anchors for this handler's sessions.
    std::string ExtraCAFile;
    // Called once a handshake has completed.
    std::function<void(const TIdTLSInfo&)> OnSecured;

    void ConnectSocket() override;
    // Runs the handshake over the open connection, for serverName.
    void StartTLS(const std::string& serverName) override;
    bool Secured() const { return static_cast<bool>(engine_); }
    const TIdTLSInfo& Info() const { return info_; }

    bool AwaitReadable(std::int32_t timeLimit) override;
    bool ClosedWithoutNotify() const override { return closedWithoutNotify_; }

protected:
    void CloseTransport() override;
    std::int32_t ReceiveFromTransport(TIdBytes& buffer, std::int32_t timeLimit) override;
    std::int32_t SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                 std::int32_t count) override;

private:
    // One receive of ciphertext into the session: the bytes taken, 0 when the
    // peer closed or (timedOut) the time limit passed.
    int ReceiveCiphertext(std::int32_t timeLimit, bool& timedOut);
    void SendOutgoing();

    std::unique_ptr<TIdTLSEngine> engine_;
    TIdTLSInfo info_;
    bool closedWithoutNotify_ = false;
};
