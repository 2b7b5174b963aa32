#pragma once
// One operating-system socket with its local and remote endpoints. The socket
// stays in blocking mode; every failure is raised by the stack or here.

#include "net/IdSocketList.h"
#include "net/IdStack.h"

#include <memory>
#include <mutex>
#include <string>

class TIdSocketHandle {
public:
    TIdSocketHandle();
    virtual ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    void OpenHandle(int socketType = Id_SOCK_STREAM, int protocol = 0);
    void ClearEndpoints(bool alsoLocal);
    void BindLocal();
    void SetLocalEndpoint(const std::string& ip, int port, TIdIPVersion version);
    void SetPeerEndpoint(const std::string& ip, int port, TIdIPVersion version);
    virtual void ConnectToPeer();
    int SendData(const TIdBytes& buffer, int offset, int count);
    int ReceiveData(TIdBytes& buffer);
    int ReceiveDatagramFrom(TIdBytes& buffer, TIdEndpoint& from);
    // Raises EIdConnClosedGracefully when the socket is no longer open.
    bool WaitReadable(int timeoutMs);
    virtual void CloseBinding();
    // Makes a connect blocked on the socket in another thread fail; the socket stays open.
    void InterruptBlockedCalls();
    void TakeEndpointsFrom(const TIdSocketHandle& other);

    void SetIPVersion(TIdIPVersion version);
    TIdIPVersion IPVersion() const { return ipVersion_; }
    bool IsOpen() const { return isOpen_; }
    TIdStackSocketHandle SocketValue() const { return socketValue_; }
    const std::string& PeerAddress() const { return peerAddress_; }
    int RemotePort() const { return remotePort_; }

    int ClientPortMin = 0;
    int ClientPortMax = 0;
    std::string IP;
    int Port = 0;
    const bool OverlappedIO = false;

private:
    void AdoptHandle(TIdStackSocketHandle value);
    bool AttemptBind();
    bool BindInClientRange();
    void RefreshLocalEndpoint();
    void RefreshPeerEndpoint();

    TIdStackSocketHandle socketValue_ = Id_INVALID_SOCKET;
    bool isOpen_ = false;
    std::string peerAddress_;
    int remotePort_ = 0;
    TIdIPVersion ipVersion_ = Id_IPv4;
    std::unique_ptr<TIdSocketList> waitSet_;
    std::mutex stateLock_;
};
