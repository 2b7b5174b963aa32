#pragma once
// The process-wide socket stack: one object while any network component exists,
// host look-up, address conversions and the socket operations every layer above
// uses. Each platform supplies a concrete stack (see StackKind); every failed
// socket call is raised as an error, never returned.

#include "net/IdGlobal.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using TIdStackSocketHandle = std::intptr_t;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;

// Socket types and options in the numbering shared by the supported platforms.
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_SOCK_DGRAM = 2;
constexpr int Id_IPPROTO_TCP = 6;
constexpr int Id_TCP_NODELAY = 1;
constexpr int Id_SD_SEND = 1;
constexpr int Id_SD_BOTH = 2;

// Up to 64 sockets, the layout a readiness wait works on.
struct TIdSocketArray {
    static constexpr int Capacity = 64;
    int Count = 0;
    TIdStackSocketHandle Handles[Capacity] = {};
};

struct TIdEndpoint {
    std::string IP;
    int Port = 0;
    TIdIPVersion IPVersion = Id_IPv4;
};

class TIdStack {
public:
    virtual ~TIdStack();
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // Host look-up: "LOCALHOST" (any case) and literal addresses need no resolver.
    std::string LookupHost(const std::string& host, TIdIPVersion version);

    virtual std::string NameToAddress(const std::string& host, TIdIPVersion version) = 0;
    virtual std::string LocalHostName() = 0;
    virtual void FillOwnAddressList() = 0;
    std::string OwnAddress();
    const std::vector<std::string>& OwnAddressList();
    virtual TIdStackSocketHandle AcceptPeer(TIdStackSocketHandle socket, TIdEndpoint& peer) = 0;
    virtual void BindEndpoint(TIdStackSocketHandle socket, const std::string& ip,
                              TIdIPVersion version, int port) = 0;
    virtual void ConnectEndpoint(TIdStackSocketHandle socket, const std::string& ip,
                                 TIdIPVersion version, int port) = 0;
    virtual void ShutdownAndClose(TIdStackSocketHandle socket) = 0;
    // Makes a call blocked on the socket in another thread (a connect) fail,
    // leaving the socket open so that its number cannot be reused meanwhile.
    virtual void InterruptBlockedCalls(TIdStackSocketHandle socket) = 0;
    virtual int ControlSocket(TIdStackSocketHandle socket, unsigned long command,
                              unsigned long& argument) = 0;
    virtual TIdEndpoint PeerEndpoint(TIdStackSocketHandle socket) = 0;
    virtual TIdEndpoint OwnEndpoint(TIdStackSocketHandle socket) = 0;
    virtual std::string AddressToName(const std::string& ip, TIdIPVersion version) = 0;
    virtual std::uint16_t HostOrder16ToNet(std::uint16_t value) = 0;
    virtual std::uint32_t HostOrder32ToNet(std::uint32_t value) = 0;
    virtual std::uint64_t NetOrder64ToHost(std::uint64_t value);
    std::array<std::uint16_t, 8> HostOrder128ToNet(const std::array<std::uint16_t, 8>& value);
    virtual void ListenOn(TIdStackSocketHandle socket, int backlog) = 0;
    virtual TIdStackSocketHandle OpenSocket(int type, int protocol, bool overlapped,
                                            TIdIPVersion version) = 0;
    virtual std::uint16_t NetOrder16ToHost(std::uint16_t value) = 0;
    virtual std::uint32_t NetOrder32ToHost(std::uint32_t value) = 0;
    virtual std::uint64_t HostOrder64ToNet(std::uint64_t value);
    std::array<std::uint16_t, 8> NetOrder128ToHost(const std::array<std::uint16_t, 8>& value);
    virtual int ReadIntOption(TIdStackSocketHandle socket, int level, int option) = 0;
    virtual void WriteIntOption(TIdStackSocketHandle socket, int level, int option, int value) = 0;
    virtual int ReceiveInto(TIdStackSocketHandle socket, TIdBytes& buffer) = 0;
    virtual int SendFrom(TIdStackSocketHandle socket, const TIdBytes& buffer, int offset,
                         int count = -1) = 0;
    virtual int ReceiveDatagram(TIdStackSocketHandle socket, TIdBytes& buffer,
                                TIdEndpoint& from) = 0;
    virtual int SendDatagram(TIdStackSocketHandle socket, const TIdBytes& buffer,
                             const TIdEndpoint& to) = 0;
    virtual bool HasIPv6Transport() = 0;
    virtual void SetGroupTTL(TIdStackSocketHandle socket, int ttl, TIdIPVersion version) = 0;
    virtual void SetGroupLoopback(TIdStackSocketHandle socket, bool on, TIdIPVersion version) = 0;
    virtual void JoinGroup(TIdStackSocketHandle socket, const std::string& group,
                           const std::string& local, TIdIPVersion version) = 0;
    virtual void LeaveGroup(TIdStackSocketHandle socket, const std::string& group,
                            const std::string& local, TIdIPVersion version) = 0;
    std::uint16_t InternetChecksum(const TIdBytes& data);
    virtual int RawClose(TIdStackSocketHandle socket) = 0;
    virtual int RawReceive(TIdStackSocketHandle socket, void* buffer, int length, int flags) = 0;
    virtual int RawSend(TIdStackSocketHandle socket, const void* buffer, int length, int flags) = 0;
    virtual int RawShutdown(TIdStackSocketHandle socket, int how) = 0;
    virtual bool CanOpenFamily(TIdIPVersion version) = 0;
    virtual void WriteOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                             int length) = 0;
    virtual void ReadOption(TIdStackSocketHandle socket, int level, int option, void* value,
                            int& length) = 0;
    virtual int ServiceToPort(const std::string& service) = 0;
    virtual std::vector<std::string> PortToServices(int port) = 0;
    virtual TIdStackSocketHandle RawOpenSocket(int family, int type, int protocol,
                                               bool overlapped) = 0;
    virtual std::string SocketErrorText(int errorNumber);
    // The calling thread's last socket error, in Windows Sockets numbering.
    virtual int LastSocketError() = 0;
    virtual void SetBlockingMode(TIdStackSocketHandle socket, bool blocking) = 0;
    bool IsWouldBlock(int result);

    // Waits until a socket of a given array is ready (-2: no limit). The arrays
    // keep only the ready sockets. Returns the number ready; -1 means failure
    // with the reason in LastSocketError.
    virtual int WaitForSockets(TIdSocketArray* read, TIdSocketArray* write, TIdSocketArray* error,
                               int timeoutMs) = 0;

    // Error conversions.
    [[noreturn]] void RaiseFromLastError();
    [[noreturn]] void RaiseForErrorNumber(int errorNumber);
    int CheckSocketResult(int result);
    TIdStackSocketHandle CheckSocketHandle(TIdStackSocketHandle handle);
    int CheckSocketResultTolerating(int result, std::initializer_list<int> tolerated);

    // Address family number for an IP version; raises EIdIPVersionUnsupported.
    virtual int FamilyOf(TIdIPVersion version) = 0;
    std::string AddressToText(const std::uint8_t* address, TIdIPVersion version);
    // Raises EConvertError, ERangeError or EIdInvalidIPv6Address for a bad text.
    TIdBytes TextToAddress(const std::string& text, TIdIPVersion version);

    std::string OwnHostName;

protected:
    TIdStack() = default;
    std::unique_ptr<std::vector<std::string>> ownAddresses_;
};

// Creates the platform's stack object; set at program start, replaceable by tests.
using TIdStackFactory = std::function<std::unique_ptr<TIdStack>()>;
void SetStackKind(TIdStackFactory factory);
TIdStackFactory DefaultStackKind();

void AcquireStack();
void ReleaseStack();
TIdStack* CurrentStack();
std::int32_t StackUsers();

// Holds a stack reference for its lifetime.
class TIdStackReference {
public:
    TIdStackReference() { AcquireStack(); }
    ~TIdStackReference() { ReleaseStack(); }
    TIdStackReference(const TIdStackReference&) = delete;
    TIdStackReference& operator=(const TIdStackReference&) = delete;
};

// The socket library is started at most once per process, by the first stack.
bool StackLibraryStarted();
int StackLibraryStartCount();
// Runs start once; a platform stack's constructor calls it. start returns 0 on success.
void EnsureStackLibraryStarted(const std::function<int()>& start);
