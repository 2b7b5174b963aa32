#include "net/IdIOHandlerSecure.h"

#include "net/IdExceptionCore.h"
#include "net/IdTransferWatch.h"

#include <algorithm>
#include <chrono>

TIdIOHandlerSecure::TIdIOHandlerSecure(TIdBaseComponent* owner) : TIdIOHandlerStack(owner) {}

TIdIOHandlerSecure::~TIdIOHandlerSecure() {
    // The session's close_notify needs this object whole: the base class's
    // destructor would close the socket alone.
    try {
        CloseHandler();
    } catch (...) {
    }
}

void TIdIOHandlerSecure::ConnectSocket() {
    engine_.reset();
    closedWithoutNotify_ = false;
    TIdIOHandlerStack::ConnectSocket();
    if (UseTLS) StartTLS(Host);
}

void TIdIOHandlerSecure::StartTLS(const std::string& serverName) {
    closedWithoutNotify_ = false;
    // The whole handshake is part of connecting: the connect limit holds for
    // all of it, else the read limit, not per receive, so that a server that
    // answers a byte at a time is cut off all the same.
    const bool byConnectLimit = ConnectTimeout > 0;
    const std::int32_t limit = byConnectLimit ? ConnectTimeout : ReadTimeout > 0 ? ReadTimeout : -2;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(limit, 0));
    engine_ =
        CreateTLSEngine({TLSServerName(serverName), ExtraCAFile,
                         limit == -2 ? std::chrono::steady_clock::time_point::max() : deadline});
    try {
        while (!engine_->Handshake()) {
            SendOutgoing();
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            bool timedOut = limit != -2 && left <= 0;
            const std::int32_t wait = limit == -2 ? -2 : static_cast<std::int32_t>(left);
            if (timedOut || ReceiveCiphertext(wait, timedOut) == 0) {
                if (timedOut && byConnectLimit) throw EIdConnectTimeout();
                if (timedOut) throw EIdReadTimeout();
                throw EIdTLSError(HandshakeFailed(serverName, "the server closed the connection"));
            }
        }
        SendOutgoing();
    } catch (...) {
        // The alert that tells the server why goes out if it still can.
        try {
            SendOutgoing();
        } catch (...) {
        }
        engine_.reset();
        throw;
    }
    info_ = engine_->Info();
    if (OnSecured) OnSecured(info_);
}

bool TIdIOHandlerSecure::AwaitReadable(std::int32_t timeLimit) {
    // A close_notify taken with the last records ends the read at once.
    if (engine_ && (engine_->HasPendingInput() || engine_->CloseNotifyReceived())) return true;
    return TIdIOHandlerStack::AwaitReadable(timeLimit);
}

std::int32_t TIdIOHandlerSecure::ReceiveFromTransport(TIdBytes& buffer, std::int32_t timeLimit) {
    if (!engine_) return TIdIOHandlerStack::ReceiveFromTransport(buffer, timeLimit);
    for (;;) {
        // A record at a time, as many as are there and fit: one piece of the
        // queue's full size rather than one per record.
        std::size_t n = 0;
        while (n < buffer.size()) {
            const std::size_t more = engine_->Decrypt(buffer.data() + n, buffer.size() - n);
            if (more == 0) break;
            n += more;
        }
        SendOutgoing(); // what the session answers on its own, such as a key update
        if (n > 0) return static_cast<std::int32_t>(n);
        if (engine_->CloseNotifyReceived()) return 0;
        // A record in pieces: the rest is waited for as any read.
        bool timedOut = false;
        if (ReceiveCiphertext(timeLimit, timedOut) == 0) {
            if (timedOut) return -1;
            closedWithoutNotify_ = true;
            return 0;
        }
    }
}

std::int32_t TIdIOHandlerSecure::SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                                 std::int32_t count) {
    if (!engine_) return TIdIOHandlerStack::SendToTransport(buffer, offset, count);
    engine_->Encrypt(buffer.data() + offset, static_cast<std::size_t>(count));
    SendOutgoing();
    return count;
}

int TIdIOHandlerSecure::ReceiveCiphertext(std::int32_t timeLimit, bool& timedOut) {
    timedOut = false;
    if (!WaitWithinTransfer(timeLimit,
                            [this](std::int32_t ms) { return binding_->WaitReadable(ms); })) {
        timedOut = true;
        return 0;
    }
    const int n = binding_->ReceiveData(engine_->ReceiveBuffer());
    if (n <= 0) return 0;
    // The pace is the line's: handshake and records in pieces count as they come.
    if (TransferWatch) TransferWatch->Received(n);
    engine_->Received(static_cast<std::size_t>(n));
    return n;
}

void TIdIOHandlerSecure::SendOutgoing() {
    const TIdBytes out = engine_->TakeOutgoing();
    std::size_t sent = 0;
    while (sent < out.size()) {
        const int n =
            binding_->SendData(out, static_cast<int>(sent), static_cast<int>(out.size() - sent));
        if (n <= 0) throw EIdNotAllBytesSent();
        sent += static_cast<std::size_t>(n);
    }
}

void TIdIOHandlerSecure::CloseTransport() {
    if (engine_ && binding_ && binding_->IsOpen() && !PeerClosed) {
        try {
            engine_->Shutdown();
            SendOutgoing();
        } catch (...) {
            // A connection that cannot take the close_notify is closed all the same.
        }
    }
    engine_.reset();
    TIdIOHandlerStack::CloseTransport();
}
