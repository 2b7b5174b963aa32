#include "net/IdTCPClient.h"

#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdIntercept.h"

TIdTCPClientCustom::TIdTCPClientCustom(TIdBaseComponent* owner) : TIdTCPConnection(owner) {}

void TIdTCPClientCustom::CopySocketSettings() {
    TIdIOHandlerSocket* socket = Socket();
    if (!socket) return;
    socket->BoundIP = boundIP_;
    socket->BoundPort = boundPort_;
    socket->BoundPortRangeMax = BoundPortRangeMax;
    socket->BoundPortRangeMin = BoundPortRangeMin;
    socket->IPVersion = ipVersion_;
    socket->OnBeforeBind = onBeforeBind_;
    socket->OnAfterBind = onAfterBind_;
}

void TIdTCPClientCustom::HandlerAttached() {
    TIdIOHandler* handler = IOHandler();
    handler->Port = port_;
    handler->Host = host_;
    handler->ConnectTimeout = connectTimeout_;
    handler->ReadTimeout = readTimeout_;
    CopySocketSettings();
}

void TIdTCPClientCustom::EstablishConnection() {
    if (IsConnected()) throw EIdAlreadyConnected();
    if (host_.empty()) throw EIdHostRequired();
    if (port_ == 0) throw EIdPortRequired();
    if (!IOHandler()) {
        AdoptHandler(CreateDefaultHandler());
        IOHandler()->OnStatus = OnStatus;
    }
    try {
        TIdIOHandler* handler = IOHandler();
        HandlerAttached();
        handler->OpenHandler();
        if (handler->Intercept()) handler->Intercept()->Connect(this);
        NotifyStatus(hsConnected, {host_});
        if (OnConnected) OnConnected(this);
    } catch (...) {
        if (IOHandler()) {
            // The connect's own error is what the caller must see, not a
            // second one from closing what it left behind.
            try {
                IOHandler()->CloseHandler();
            } catch (...) {
            }
            if (OwnsHandler()) AttachHandler(nullptr);
        }
        throw;
    }
}

void TIdTCPClientCustom::SetHost(const std::string& value) {
    host_ = value;
    if (IOHandler()) IOHandler()->Host = value;
}

void TIdTCPClientCustom::SetPort(int value) {
    port_ = value;
    if (IOHandler()) IOHandler()->Port = value;
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion value) {
    ipVersion_ = value;
    if (Socket()) Socket()->IPVersion = value;
}

void TIdTCPClientCustom::SetConnectTimeout(int value) {
    connectTimeout_ = value;
    if (IOHandler()) IOHandler()->ConnectTimeout = value;
}

void TIdTCPClientCustom::SetReadTimeout(int value) {
    readTimeout_ = value;
    if (IOHandler()) IOHandler()->ReadTimeout = value;
}

void TIdTCPClientCustom::SetBoundIP(const std::string& value) {
    boundIP_ = value;
    if (Socket()) Socket()->BoundIP = value;
}

void TIdTCPClientCustom::SetBoundPort(int value) {
    boundPort_ = value;
    if (Socket()) Socket()->BoundPort = value;
}

void TIdTCPClientCustom::SetOnBeforeBind(TNotifyEvent handler) {
    onBeforeBind_ = std::move(handler);
    if (Socket()) Socket()->OnBeforeBind = onBeforeBind_;
}

void TIdTCPClientCustom::SetOnAfterBind(TNotifyEvent handler) {
    onAfterBind_ = std::move(handler);
    if (Socket()) Socket()->OnAfterBind = onAfterBind_;
}
