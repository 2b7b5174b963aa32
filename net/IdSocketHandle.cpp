#include "net/IdSocketHandle.h"

#include "net/IdExceptionCore.h"

TIdSocketHandle::TIdSocketHandle() {
    ClearEndpoints(true);
}

TIdSocketHandle::~TIdSocketHandle() {
    CloseBinding();
}

void TIdSocketHandle::AdoptHandle(TIdStackSocketHandle value) {
    socketValue_ = value;
    isOpen_ = value != Id_INVALID_SOCKET;
    waitSet_.reset();
    if (isOpen_) {
        waitSet_ = NewSocketList();
        waitSet_->AddSocket(socketValue_);
    }
}

void TIdSocketHandle::ClearEndpoints(bool alsoLocal) {
    AdoptHandle(Id_INVALID_SOCKET);
    if (alsoLocal) {
        IP.clear();
        Port = 0;
    }
    peerAddress_.clear();
    remotePort_ = 0;
    ipVersion_ = Id_IPv4;
}

void TIdSocketHandle::OpenHandle(int socketType, int protocol) {
    CloseBinding();
    AdoptHandle(CurrentStack()->OpenSocket(socketType, protocol, OverlappedIO, ipVersion_));
}

void TIdSocketHandle::BindLocal() {
    if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
        if (!AttemptBind()) throw EIdCouldNotBindSocket();
        return;
    }
    if (ClientPortMin > ClientPortMax)
        throw EIdInvalidPortRange(
            Format("Invalid Port Range (%d - %d)", ClientPortMin, ClientPortMax));
    if (!BindInClientRange())
        throw EIdCanNotBindPortInRange(
            Format("Can not bind in port range (%d - %d)", ClientPortMin, ClientPortMax));
}

bool TIdSocketHandle::AttemptBind() {
    try {
        CurrentStack()->BindEndpoint(socketValue_, IP, ipVersion_, Port);
        RefreshLocalEndpoint();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

bool TIdSocketHandle::BindInClientRange() {
    for (int port = ClientPortMax; port >= ClientPortMin; --port) {
        Port = port;
        if (AttemptBind()) return true;
    }
    Port = ClientPortMin;
    return false;
}

void TIdSocketHandle::SetLocalEndpoint(const std::string& ip, int port, TIdIPVersion version) {
    IP = ip;
    Port = port;
    SetIPVersion(version);
}

void TIdSocketHandle::SetPeerEndpoint(const std::string& ip, int port, TIdIPVersion version) {
    peerAddress_ = ip;
    remotePort_ = port;
    ipVersion_ = version;
}

void TIdSocketHandle::ConnectToPeer() {
    // Read under the lock: a connect thread runs this while the owner may close.
    TIdStackSocketHandle socket;
    std::string address;
    int port;
    TIdIPVersion version;
    {
        std::lock_guard guard(stateLock_);
        socket = socketValue_;
        address = peerAddress_;
        port = remotePort_;
        version = ipVersion_;
    }
    CurrentStack()->ConnectEndpoint(socket, address, version, port);
    std::lock_guard guard(stateLock_);
    // A handle closed while the connect ran is not refreshed.
    if (isOpen_) {
        RefreshLocalEndpoint();
        RefreshPeerEndpoint();
    }
}

void TIdSocketHandle::RefreshLocalEndpoint() {
    const TIdEndpoint own = CurrentStack()->OwnEndpoint(socketValue_);
    IP = own.IP;
    Port = own.Port;
}

void TIdSocketHandle::RefreshPeerEndpoint() {
    const TIdEndpoint peer = CurrentStack()->PeerEndpoint(socketValue_);
    peerAddress_ = peer.IP;
    remotePort_ = peer.Port;
}

int TIdSocketHandle::SendData(const TIdBytes& buffer, int offset, int count) {
    return CurrentStack()->SendFrom(socketValue_, buffer, offset, count);
}

int TIdSocketHandle::ReceiveData(TIdBytes& buffer) {
    return CurrentStack()->ReceiveInto(socketValue_, buffer);
}

int TIdSocketHandle::ReceiveDatagramFrom(TIdBytes& buffer, TIdEndpoint& from) {
    return CurrentStack()->ReceiveDatagram(socketValue_, buffer, from);
}

bool TIdSocketHandle::WaitReadable(int timeoutMs) {
    if (!isOpen_) throw EIdConnClosedGracefully();
    return waitSet_->WaitReadableFor(timeoutMs);
}

void TIdSocketHandle::CloseBinding() {
    if (!isOpen_) return;
    std::lock_guard guard(stateLock_);
    if (!isOpen_) return;
    isOpen_ = false;
    CurrentStack()->ShutdownAndClose(socketValue_);
    AdoptHandle(Id_INVALID_SOCKET);
}

void TIdSocketHandle::InterruptBlockedCalls() {
    std::lock_guard guard(stateLock_);
    if (isOpen_) CurrentStack()->InterruptBlockedCalls(socketValue_);
}

void TIdSocketHandle::TakeEndpointsFrom(const TIdSocketHandle& other) {
    IP = other.IP;
    Port = other.Port;
    peerAddress_ = other.peerAddress_;
    remotePort_ = other.remotePort_;
    ipVersion_ = other.ipVersion_;
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion version) {
    if (version == ipVersion_) return;
    if (isOpen_) throw EIdCannotSetIPVersionWhenConnected();
    ipVersion_ = version;
}
