#pragma once
// The socket stack over Windows Sockets 2, reached through the binding table of
// IdWinSock2. Error numbers are the native ones; the library is started once per
// process by the first stack and cleaned up when the program ends.

#include "net/IdStackBSDBase.h"

class TIdStackWindows : public TIdStackBSDBase {
public:
    TIdStackWindows();

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
    void InterruptBlockedCalls(TIdStackSocketHandle socket) override;
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
    // A failed name look-up's result code, raised as a socket error (code 11:
    // the system's last error as EOSError).
    [[noreturn]] void RaiseForAddrInfoError(int code);
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

// Windows Sockets number for a getaddrinfo result code.
int MapAddrInfoError(int code);
