#pragma once
// The socket stack over the POSIX socket interface. errno values and resolver
// failures are mapped onto the Windows Sockets numbers the error texts use.

#include "net/IdStackBSDBase.h"

struct addrinfo;

class TIdStackPosix : public TIdStackBSDBase {
public:
    TIdStackPosix();

    // The name look-up, getaddrinfo's signature; tests put one of their own in
    // its place. A replacement returns a failure code or a list that
    // freeaddrinfo can free.
    using TLookUp = int (*)(const char* host, const char* service, const addrinfo* hints,
                            addrinfo** result);
    static TLookUp LookUp;

    std::string NameToAddress(const std::string& host, TIdIPVersion version) override;
    std::string LocalHostName() override;
    void FillOwnAddressList() override;
    int ControlSocket(TIdStackSocketHandle socket, unsigned long command,
                      unsigned long& argument) override;
    std::string AddressToName(const std::string& ip, TIdIPVersion version) override;
    std::uint16_t HostOrder16ToNet(std::uint16_t value) override;
    std::uint32_t HostOrder32ToNet(std::uint32_t value) override;
    std::uint16_t NetOrder16ToHost(std::uint16_t value) override;
    std::uint32_t NetOrder32ToHost(std::uint32_t value) override;
    bool HasIPv6Transport() override;
    int RawClose(TIdStackSocketHandle socket) override;
    int RawReceive(TIdStackSocketHandle socket, void* buffer, int length, int flags) override;
    int RawSend(TIdStackSocketHandle socket, const void* buffer, int length, int flags) override;
    int RawShutdown(TIdStackSocketHandle socket, int how) override;
    int ServiceToPort(const std::string& service) override;
    std::vector<std::string> PortToServices(int port) override;
    TIdStackSocketHandle RawOpenSocket(int family, int type, int protocol,
                                       bool overlapped) override;
    int LastSocketError() override;
    void SetBlockingMode(TIdStackSocketHandle socket, bool blocking) override;
    int WaitForSockets(TIdSocketArray* read, TIdSocketArray* write, TIdSocketArray* error,
                       int timeoutMs) override;
    int FamilyOf(TIdIPVersion version) override;

protected:
    const MulticastOptions& Multicast() const override;
    int RawBind(TIdStackSocketHandle socket, const void* address, int length) override;
    int RawConnect(TIdStackSocketHandle socket, const void* address, int length) override;
    int RawGetSockName(TIdStackSocketHandle socket, void* address, int& length) override;
    int RawGetPeerName(TIdStackSocketHandle socket, void* address, int& length) override;
    TIdStackSocketHandle RawAccept(TIdStackSocketHandle socket, void* address,
                                   int& length) override;
    int RawListen(TIdStackSocketHandle socket, int backlog) override;
    int RawSetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value,
                      int length) override;
    int RawGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                      int& length) override;
    int RawRecvFrom(TIdStackSocketHandle socket, void* buffer, int length, void* address,
                    int& addressLength) override;
    int RawSendTo(TIdStackSocketHandle socket, const void* buffer, int length, const void* address,
                  int addressLength) override;
};

// Windows Sockets number for an errno value; one the table does not know
// becomes Id_WSAECONNABORTED, so that every number raised has its text.
int MapErrnoToSocketError(int error);
// Windows Sockets number for a getaddrinfo failure code.
int MapResolverError(int code);
