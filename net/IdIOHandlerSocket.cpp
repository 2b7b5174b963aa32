#include "net/IdIOHandlerSocket.h"

#include "net/IdExceptionCore.h"
#include "net/IdTransferWatch.h"

TIdIOHandlerSocket::TIdIOHandlerSocket(TIdBaseComponent* owner) : TIdIOHandler(owner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    // Closing runs while this object is still whole; a destructor must not throw.
    try {
        CloseHandler();
    } catch (...) {
    }
}

void TIdIOHandlerSocket::Notification(TIdBaseComponent* component) {
    if (component == transparentProxy_) transparentProxy_ = nullptr;
    TIdIOHandler::Notification(component);
}

void TIdIOHandlerSocket::SetTransparentProxy(TIdCustomTransparentProxy* proxy) {
    if (transparentProxy_) transparentProxy_->RemoveFreeNotification(this);
    transparentProxy_ = proxy;
    if (transparentProxy_) transparentProxy_->FreeNotification(this);
}

void TIdIOHandlerSocket::OpenHandler() {
    TIdIOHandler::OpenHandler();
    if (!binding_)
        binding_ = std::make_unique<TIdSocketHandle>();
    else
        binding_->ClearEndpoints(true);
    binding_->ClientPortMin = BoundPortRangeMin;
    binding_->ClientPortMax = BoundPortRangeMax;
    if (!Host.empty() && Port > 0) ConnectSocket();
}

void TIdIOHandlerSocket::ConnectSocket() {
    if (OnBeforeBind) OnBeforeBind(this);
    binding_->SetIPVersion(IPVersion);
    binding_->OpenHandle(Id_SOCK_STREAM, 0);
    if (OnSocketAllocated) OnSocketAllocated(this);
    if (!BoundIP.empty()) binding_->IP = BoundIP;
    binding_->Port = BoundPort;
    binding_->ClientPortMin = BoundPortRangeMin;
    binding_->ClientPortMax = BoundPortRangeMax;
    binding_->BindLocal();
    if (binding_->IsOpen())
        CurrentStack()->WriteIntOption(binding_->SocketValue(), Id_IPPROTO_TCP, Id_TCP_NODELAY,
                                       useNagle_ ? 0 : 1);
    if (OnAfterBind) OnAfterBind(this);
}

void TIdIOHandlerSocket::SetUseNagle(bool value) {
    if (value == useNagle_) return;
    useNagle_ = value;
    if (TransportAllocated())
        CurrentStack()->WriteIntOption(binding_->SocketValue(), Id_IPPROTO_TCP, Id_TCP_NODELAY,
                                       useNagle_ ? 0 : 1);
}

std::string TIdIOHandlerSocket::Destination() const {
    if (Port > 0 && Port != DefaultPort) return Host + ":" + std::to_string(Port);
    return Host;
}

void TIdIOHandlerSocket::SetDestination(const std::string& value) {
    const auto colon = value.rfind(':');
    if (colon == std::string::npos) return;
    Host = value.substr(0, colon);
    const auto port = TryTextToInt32(Trim(value.substr(colon + 1, 255)));
    Port = port ? *port : DefaultPort;
}

void TIdIOHandlerSocket::CloseTransport() {
    if (binding_) binding_->CloseBinding();
}

std::int32_t TIdIOHandlerSocket::ReceiveFromTransport(TIdBytes& buffer, std::int32_t) {
    const std::int32_t n = binding_->ReceiveData(buffer);
    if (n > 0 && TransferWatch) TransferWatch->Received(n);
    return n;
}

std::int32_t TIdIOHandlerSocket::SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                                 std::int32_t count) {
    return binding_->SendData(buffer, offset, count);
}
