#include "net/windows/IdStackWindows.h"

#include "host/Exception.h"
#include "net/IdExceptionCore.h"
#include "net/windows/IdWinSock2.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace ws = IdWinsock;

namespace {

SOCKET Native(TIdStackSocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

TIdStackSocketHandle FromNative(SOCKET socket) {
    return socket == INVALID_SOCKET ? Id_INVALID_SOCKET : static_cast<TIdStackSocketHandle>(socket);
}

// Frees a name look-up's result list on every path, raising ones included.
struct AddrInfoList {
    addrinfo* head = nullptr;
    ~AddrInfoList() {
        if (head) ws::FreeAddrInfo()(head);
    }
};

// The library is started by the first stack and cleaned up once at program end.
struct LibraryCleanup {
    ~LibraryCleanup() {
        if (StackLibraryStarted() && ws::LibraryLoaded()) ws::WSACleanup();
    }
} gLibraryCleanup;

} // namespace

TIdStackWindows::TIdStackWindows() {
    EnsureStackLibraryStarted([] { return ws::LoadAndStartLibrary(0x0202); });
}

int TIdStackWindows::FamilyOf(TIdIPVersion version) {
    switch (version) {
    case Id_IPv4:
        return AF_INET;
    case Id_IPv6:
        return AF_INET6;
    }
    throw EIdIPVersionUnsupported();
}

// The name look-up's result codes in the numbering of the error texts. The
// current library already returns Windows Sockets numbers, which pass through.
int MapAddrInfoError(int code) {
    switch (code) {
    case 1:
        return 0;
    case 2:
        return Id_WSATRY_AGAIN;
    case 3:
        return Id_WSAEINVAL;
    case 4:
        return Id_WSANO_RECOVERY;
    case 5:
        return Id_WSAEAFNOSUPPORT;
    case 6:
        return 8;
    case 7:
        return Id_WSANO_DATA;
    case 8:
        return Id_WSAHOST_NOT_FOUND;
    case 9:
        return Id_WSATYPE_NOT_FOUND;
    case 10:
        return Id_WSAESOCKTNOSUPPORT;
    default:
        return code;
    }
}

void TIdStackWindows::RaiseForAddrInfoError(int code) {
    if (code == 11) throw EOSError(static_cast<std::uint32_t>(::GetLastError()));
    RaiseForErrorNumber(MapAddrInfoError(code));
}

std::string TIdStackWindows::NameToAddress(const std::string& host, TIdIPVersion version) {
    if (version == Id_IPv4) {
        const hostent* entry = ws::gethostbyname(host.c_str());
        if (!entry) RaiseFromLastError();
        return AddressToText(reinterpret_cast<const std::uint8_t*>(entry->h_addr_list[0]), Id_IPv4);
    }
    if (version == Id_IPv6) {
        if (!ws::IPv6NamesAvailable()) throw EIdIPv6Unavailable("IPv6 unavailable");
        addrinfo hints{};
        hints.ai_family = AF_INET6;
        hints.ai_socktype = SOCK_STREAM;
        AddrInfoList list;
        const int code = ws::GetAddrInfo()(host.c_str(), nullptr, &hints, &list.head);
        if (code != 0) RaiseForAddrInfoError(code);
        const auto* address = reinterpret_cast<const sockaddr_in6*>(list.head->ai_addr);
        return AddressToText(reinterpret_cast<const std::uint8_t*>(&address->sin6_addr), Id_IPv6);
    }
    throw EIdIPVersionUnsupported();
}

std::string TIdStackWindows::LocalHostName() {
    char name[251] = {};
    ws::gethostname(name, 250);
    return std::string(name);
}

void TIdStackWindows::FillOwnAddressList() {
    ownAddresses_->clear();
    const hostent* entry = ws::gethostbyname(OwnHostName.c_str());
    if (!entry) RaiseFromLastError();
    if (entry->h_addrtype != AF_INET) return;
    for (char** address = entry->h_addr_list; *address; ++address)
        ownAddresses_->push_back(
            AddressToText(reinterpret_cast<const std::uint8_t*>(*address), Id_IPv4));
}

int TIdStackWindows::ControlSocket(TIdStackSocketHandle socket, unsigned long command,
                                   unsigned long& argument) {
    u_long value = argument;
    const int result = ws::ioctlsocket(Native(socket), static_cast<long>(command), &value);
    argument = value;
    return result;
}

std::string TIdStackWindows::AddressToName(const std::string& ip, TIdIPVersion version) {
    if (version == Id_IPv4) {
        const TIdBytes address = TextToAddress(ip, Id_IPv4);
        const hostent* entry =
            ws::gethostbyaddr(reinterpret_cast<const char*>(address.data()), 4, AF_INET);
        if (!entry) RaiseFromLastError();
        return entry->h_name;
    }
    if (version == Id_IPv6) {
        if (!ws::IPv6NamesAvailable()) throw EIdIPv6Unavailable("IPv6 unavailable");
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        hints.ai_family = AF_INET6;
        AddrInfoList list;
        int code = ws::GetAddrInfo()(ip.c_str(), nullptr, &hints, &list.head);
        if (code != 0) RaiseForAddrInfoError(code);
        char host[1025] = {};
        code = ws::GetNameInfo()(list.head->ai_addr, static_cast<socklen_t>(list.head->ai_addrlen),
                                 host, sizeof host, nullptr, 0, NI_NAMEREQD);
        if (code != 0) RaiseForAddrInfoError(code);
        return host;
    }
    throw EIdIPVersionUnsupported();
}

std::uint16_t TIdStackWindows::HostOrder16ToNet(std::uint16_t value) {
    return ws::htons(value);
}
std::uint32_t TIdStackWindows::HostOrder32ToNet(std::uint32_t value) {
    return ws::htonl(value);
}
std::uint16_t TIdStackWindows::NetOrder16ToHost(std::uint16_t value) {
    return ws::ntohs(value);
}
std::uint32_t TIdStackWindows::NetOrder32ToHost(std::uint32_t value) {
    return ws::ntohl(value);
}

bool TIdStackWindows::HasIPv6Transport() {
    DWORD size = 0;
    ws::WSAEnumProtocolsGeneric(nullptr, nullptr, &size);
    if (size == 0) return false;
    std::vector<std::uint8_t> buffer(size);
    auto* protocols = reinterpret_cast<WSAPROTOCOL_INFOA*>(buffer.data());
    const int count = ws::WSAEnumProtocolsGeneric(nullptr, protocols, &size);
    for (int i = 0; i < count; ++i)
        if (protocols[i].iAddressFamily == AF_INET6) return true;
    return false;
}

const TIdStackBSDBase::MulticastOptions& TIdStackWindows::Multicast() const {
    static const MulticastOptions options{
        IPPROTO_IP,          IPPROTO_IPV6,        IP_MULTICAST_TTL,  IPV6_MULTICAST_HOPS,
        IP_MULTICAST_LOOP,   IPV6_MULTICAST_LOOP, IP_ADD_MEMBERSHIP, IP_DROP_MEMBERSHIP,
        IPV6_ADD_MEMBERSHIP, IPV6_DROP_MEMBERSHIP};
    return options;
}

int TIdStackWindows::RawClose(TIdStackSocketHandle socket) {
    return ws::closesocket(Native(socket));
}

int TIdStackWindows::RawReceive(TIdStackSocketHandle socket, void* buffer, int length, int flags) {
    return ws::recv(Native(socket), static_cast<char*>(buffer), length, flags);
}

int TIdStackWindows::RawSend(TIdStackSocketHandle socket, const void* buffer, int length,
                             int flags) {
    return ws::send(Native(socket), static_cast<const char*>(buffer), length, flags);
}

int TIdStackWindows::RawShutdown(TIdStackSocketHandle socket, int how) {
    return ws::shutdown(Native(socket), how);
}

void TIdStackWindows::InterruptBlockedCalls(TIdStackSocketHandle socket) {
    // Windows does not end a pending connect for a shutdown; cancelling the
    // socket's I/O does, for blocking calls of any thread.
    RawShutdown(socket, Id_SD_BOTH);
    ::CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), nullptr);
}

int TIdStackWindows::ServiceToPort(const std::string& service) {
    if (const servent* entry = ws::getservbyname(service.c_str(), nullptr))
        return NetOrder16ToHost(static_cast<std::uint16_t>(entry->s_port));
    const auto value = TryTextToInt32(service);
    if (!value) throw EIdInvalidServiceName(service + " is not a valid service.");
    return *value;
}

std::vector<std::string> TIdStackWindows::PortToServices(int port) {
    std::vector<std::string> names;
    const servent* entry =
        ws::getservbyport(HostOrder16ToNet(static_cast<std::uint16_t>(port)), nullptr);
    if (!entry) return names;
    names.emplace_back(entry->s_name);
    for (char** alias = entry->s_aliases; alias && *alias; ++alias) names.emplace_back(*alias);
    return names;
}

TIdStackSocketHandle TIdStackWindows::RawOpenSocket(int family, int type, int protocol,
                                                    bool overlapped) {
    if (overlapped)
        return FromNative(ws::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED));
    return FromNative(ws::socket(family, type, protocol));
}

int TIdStackWindows::LastSocketError() {
    return ws::WSAGetLastError();
}

void TIdStackWindows::SetBlockingMode(TIdStackSocketHandle socket, bool blocking) {
    u_long argument = blocking ? 0 : 1;
    CheckSocketResult(ws::ioctlsocket(Native(socket), static_cast<long>(FIONBIO), &argument));
}

namespace {

void ToFdSet(const TIdSocketArray& sockets, fd_set& set) {
    set.fd_count = static_cast<u_int>(sockets.Count);
    for (int i = 0; i < sockets.Count; ++i) set.fd_array[i] = Native(sockets.Handles[i]);
}

// select leaves exactly the ready sockets in the set, in their order.
void FromFdSet(const fd_set& set, TIdSocketArray& sockets) {
    const int before = sockets.Count;
    sockets.Count = static_cast<int>(set.fd_count);
    for (int i = 0; i < sockets.Count; ++i) sockets.Handles[i] = FromNative(set.fd_array[i]);
    for (int i = sockets.Count; i < before; ++i) sockets.Handles[i] = 0;
}

} // namespace

int TIdStackWindows::WaitForSockets(TIdSocketArray* read, TIdSocketArray* write,
                                    TIdSocketArray* error, int timeoutMs) {
    static_assert(TIdSocketArray::Capacity == FD_SETSIZE);
    fd_set sets[3];
    TIdSocketArray* arrays[3] = {read, write, error};
    int total = 0;
    for (int i = 0; i < 3; ++i) {
        if (!arrays[i]) continue;
        ToFdSet(*arrays[i], sets[i]);
        total += arrays[i]->Count;
    }
    // Windows' select refuses three empty sets with Id_WSAEINVAL; Wine may not, so the
    // refusal is made here, the same on every system.
    if (total == 0) {
        ws::WSASetLastError(Id_WSAEINVAL);
        return Id_SOCKET_ERROR;
    }
    timeval limit{};
    timeval* limitPointer = nullptr;
    if (timeoutMs != -2) {
        const int ms = timeoutMs < 0 ? 0 : timeoutMs;
        limit.tv_sec = ms / 1000;
        limit.tv_usec = (ms % 1000) * 1000;
        limitPointer = &limit;
    }
    const int result = ws::select(0, read ? &sets[0] : nullptr, write ? &sets[1] : nullptr,
                                  error ? &sets[2] : nullptr, limitPointer);
    if (result == SOCKET_ERROR) return Id_SOCKET_ERROR;
    for (int i = 0; i < 3; ++i)
        if (arrays[i]) FromFdSet(sets[i], *arrays[i]);
    return result;
}

int TIdStackWindows::RawBind(TIdStackSocketHandle socket, const void* address, int length) {
    return ws::bind(Native(socket), static_cast<const sockaddr*>(address), length);
}

int TIdStackWindows::RawConnect(TIdStackSocketHandle socket, const void* address, int length) {
    return ws::connect(Native(socket), static_cast<const sockaddr*>(address), length);
}

int TIdStackWindows::RawGetSockName(TIdStackSocketHandle socket, void* address, int& length) {
    return ws::getsockname(Native(socket), static_cast<sockaddr*>(address), &length);
}

int TIdStackWindows::RawGetPeerName(TIdStackSocketHandle socket, void* address, int& length) {
    return ws::getpeername(Native(socket), static_cast<sockaddr*>(address), &length);
}

TIdStackSocketHandle TIdStackWindows::RawAccept(TIdStackSocketHandle socket, void* address,
                                                int& length) {
    return FromNative(ws::accept(Native(socket), static_cast<sockaddr*>(address), &length));
}

int TIdStackWindows::RawListen(TIdStackSocketHandle socket, int backlog) {
    return ws::listen(Native(socket), backlog);
}

int TIdStackWindows::RawSetSockOpt(TIdStackSocketHandle socket, int level, int option,
                                   const void* value, int length) {
    return ws::setsockopt(Native(socket), level, option, static_cast<const char*>(value), length);
}

int TIdStackWindows::RawGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                                   int& length) {
    return ws::getsockopt(Native(socket), level, option, static_cast<char*>(value), &length);
}

int TIdStackWindows::RawRecvFrom(TIdStackSocketHandle socket, void* buffer, int length,
                                 void* address, int& addressLength) {
    return ws::recvfrom(Native(socket), static_cast<char*>(buffer), length, 0,
                        static_cast<sockaddr*>(address), &addressLength);
}

int TIdStackWindows::RawSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                               const void* address, int addressLength) {
    return ws::sendto(Native(socket), static_cast<const char*>(buffer), length, 0,
                      static_cast<const sockaddr*>(address), addressLength);
}

TIdStackFactory DefaultStackKind() {
    return [] { return std::unique_ptr<TIdStack>(std::make_unique<TIdStackWindows>()); };
}
