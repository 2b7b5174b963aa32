#pragma once
// Operations common to BSD-style socket interfaces, written over a small set of
// raw calls that each platform supplies. Socket addresses are built here in the
// layout both supported platforms share (family, port, address: 16 or 28 bytes).

#include "net/IdStack.h"

class TIdStackBSDBase : public TIdStack {
public:
    void BindEndpoint(TIdStackSocketHandle socket, const std::string& ip, TIdIPVersion version,
                      int port) override;
    void ConnectEndpoint(TIdStackSocketHandle socket, const std::string& ip, TIdIPVersion version,
                         int port) override;
    TIdEndpoint PeerEndpoint(TIdStackSocketHandle socket) override;
    TIdEndpoint OwnEndpoint(TIdStackSocketHandle socket) override;
    TIdStackSocketHandle AcceptPeer(TIdStackSocketHandle socket, TIdEndpoint& peer) override;
    void ListenOn(TIdStackSocketHandle socket, int backlog) override;
    TIdStackSocketHandle OpenSocket(int type, int protocol, bool overlapped,
                                    TIdIPVersion version) override;
    int ReadIntOption(TIdStackSocketHandle socket, int level, int option) override;
    void WriteIntOption(TIdStackSocketHandle socket, int level, int option, int value) override;
    void WriteOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                     int length) override;
    void ReadOption(TIdStackSocketHandle socket, int level, int option, void* value,
                    int& length) override;
    int ReceiveInto(TIdStackSocketHandle socket, TIdBytes& buffer) override;
    int SendFrom(TIdStackSocketHandle socket, const TIdBytes& buffer, int offset,
                 int count = -1) override;
    int ReceiveDatagram(TIdStackSocketHandle socket, TIdBytes& buffer, TIdEndpoint& from) override;
    int SendDatagram(TIdStackSocketHandle socket, const TIdBytes& buffer,
                     const TIdEndpoint& to) override;
    void ShutdownAndClose(TIdStackSocketHandle socket) override;
    void InterruptBlockedCalls(TIdStackSocketHandle socket) override;
    bool CanOpenFamily(TIdIPVersion version) override;
    void SetGroupTTL(TIdStackSocketHandle socket, int ttl, TIdIPVersion version) override;
    void SetGroupLoopback(TIdStackSocketHandle socket, bool on, TIdIPVersion version) override;
    void JoinGroup(TIdStackSocketHandle socket, const std::string& group, const std::string& local,
                   TIdIPVersion version) override;
    void LeaveGroup(TIdStackSocketHandle socket, const std::string& group, const std::string& local,
                    TIdIPVersion version) override;

protected:
    struct SocketAddress {
        std::uint8_t Bytes[28] = {};
        int Length = 0;
    };
    SocketAddress MakeAddress(const std::string& ip, TIdIPVersion version, int port);
    TIdEndpoint ReadAddress(const SocketAddress& address);

    // The platform's numbers of the multicast options; the records they take
    // (ip_mreq, ipv6_mreq) have the same layout everywhere.
    struct MulticastOptions {
        int IPv4Level, IPv6Level;
        int IPv4TTL, IPv6Hops, IPv4Loop, IPv6Loop;
        int IPv4Join, IPv4Leave, IPv6Join, IPv6Leave;
    };
    virtual const MulticastOptions& Multicast() const = 0;
    void ChangeGroupMembership(TIdStackSocketHandle socket, const std::string& group,
                               const std::string& local, TIdIPVersion version, bool join);
    virtual int RawBind(TIdStackSocketHandle socket, const void* address, int length) = 0;
    virtual int RawConnect(TIdStackSocketHandle socket, const void* address, int length) = 0;
    virtual int RawGetSockName(TIdStackSocketHandle socket, void* address, int& length) = 0;
    virtual int RawGetPeerName(TIdStackSocketHandle socket, void* address, int& length) = 0;
    virtual TIdStackSocketHandle RawAccept(TIdStackSocketHandle socket, void* address,
                                           int& length) = 0;
    virtual int RawListen(TIdStackSocketHandle socket, int backlog) = 0;
    virtual int RawSetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value,
                              int length) = 0;
    virtual int RawGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                              int& length) = 0;
    virtual int RawRecvFrom(TIdStackSocketHandle socket, void* buffer, int length, void* address,
                            int& addressLength) = 0;
    virtual int RawSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                          const void* address, int addressLength) = 0;
};
