#include "net/IdTCPConnection.h"

#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSocket.h"

TIdTCPConnection::TIdTCPConnection(TIdBaseComponent* owner) : TIdComponent(owner) {}

TIdTCPConnection::~TIdTCPConnection() {
    if (ioHandler_) {
        try {
            ioHandler_->CloseHandler();
        } catch (...) {
        }
    }
    AttachHandler(nullptr);
}

void TIdTCPConnection::AttachHandler(TIdIOHandler* handler) {
    if (handler == ioHandler_) return;
    if (ioHandler_) {
        ioHandler_->ProgressTarget = nullptr;
        ioHandler_->TransferWatch = nullptr;
        ioHandler_->RemoveFreeNotification(this);
    }
    ioHandler_ = nullptr;
    socket_ = nullptr;
    // A handler the connection made itself goes with the detach.
    ownedHandler_.reset();
    if (handler) {
        handler->ProgressTarget = this;
        handler->TransferWatch = &transferWatch_;
        handler->FreeNotification(this);
    }
    socket_ = dynamic_cast<TIdIOHandlerSocket*>(handler);
    ioHandler_ = handler;
    if (ioHandler_) HandlerAttached();
}

void TIdTCPConnection::AdoptHandler(std::unique_ptr<TIdIOHandler> handler) {
    TIdIOHandler* raw = handler.get();
    AttachHandler(raw);
    ownedHandler_ = std::move(handler);
}

void TIdTCPConnection::Notification(TIdBaseComponent* component) {
    if (component == ioHandler_) {
        ioHandler_ = nullptr;
        socket_ = nullptr;
    }
}

void TIdTCPConnection::StartTransfer() {
    transferWatch_.Start(TransferTimeout, LowSpeedLimit, LowSpeedTime, AbortSignal);
}

bool TIdTCPConnection::IsConnected() {
    return ioHandler_ && ioHandler_->IsConnected();
}

void TIdTCPConnection::CloseConnection(bool notifyPeer) {
    try {
        if (notifyPeer && IsConnected()) NotifyPeerBeforeClose();
    } catch (...) {
        if (ioHandler_ && ioHandler_->HandlerOpen) {
            NotifyStatus(hsDisconnecting);
            ioHandler_->CloseHandler();
            DoOnDisconnected();
            NotifyStatus(hsDisconnected);
        }
        throw;
    }
    if (ioHandler_ && ioHandler_->HandlerOpen) {
        NotifyStatus(hsDisconnecting);
        ioHandler_->CloseHandler();
        DoOnDisconnected();
        NotifyStatus(hsDisconnected);
    }
}

void TIdTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::CheckPeerClosed(bool raiseIfClosed) {
    if (ioHandler_)
        ioHandler_->DetectClosed(raiseIfClosed, false);
    else if (raiseIfClosed)
        throw EIdException(kNotConnectedText);
}

int TIdTCPConnection::SendCmd(const std::string& command) {
    if (!ioHandler_) throw EIdNotConnected();
    ioHandler_->WriteLine(command);
    GetResponse();
    return lastCmdResult_.NumericCode();
}

void TIdTCPConnection::GetResponse() {
    if (!ioHandler_) throw EIdNotConnected();
    lastCmdResult_.Clear();
    // "123-text" continues the reply, "123 text" ends it.
    while (true) {
        const std::string line = ioHandler_->ReadLine();
        const std::string code = line.substr(0, 3);
        lastCmdResult_.SetCode(code);
        lastCmdResult_.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
        if (line.size() < 4 || line[3] != '-') break;
    }
}
