#include "net/posix/IdStackPosix.h"

#include "host/Exception.h"
#include "net/IdExceptionCore.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local int tLastSocketError = 0;

int Fail() {
    tLastSocketError = MapErrnoToSocketError(errno);
    return Id_SOCKET_ERROR;
}

int Result(int r) {
    return r < 0 ? Fail() : r;
}

int Fd(TIdStackSocketHandle socket) {
    return static_cast<int>(socket);
}

} // namespace

// Resolver failure codes in Windows Sockets numbering.
int MapResolverError(int code) {
    switch (code) {
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_BADFLAGS:
        return 10022;
    case EAI_FAMILY:
        return 10047;
    case EAI_MEMORY:
        return 10055;
    case EAI_SERVICE:
        return 10109;
    case EAI_SOCKTYPE:
        return 10044;
    default:
        return 11003;
    }
}

TIdStackPosix::TLookUp TIdStackPosix::LookUp = ::getaddrinfo;

namespace {

// Raises a resolver failure as the socket error of its kind. A system error of
// the IPv6 look-up is the runtime's EOSError; for IPv4 it is mapped like errno.
[[noreturn]] void RaiseResolverFailure(TIdStack& stack, int code, TIdIPVersion version) {
    if (code == EAI_SYSTEM) {
        const int error = errno;
        if (version == Id_IPv6) throw EOSError(static_cast<std::uint32_t>(error));
        tLastSocketError = MapErrnoToSocketError(error);
    } else {
        tLastSocketError = MapResolverError(code);
    }
    stack.RaiseFromLastError();
}

struct AddrInfoList {
    addrinfo* head = nullptr;
    ~AddrInfoList() {
        if (head) freeaddrinfo(head);
    }
};

} // namespace

int MapErrnoToSocketError(int error) {
    switch (error) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EPERM:
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case ENFILE:
    case EMFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case EPIPE:
        return 10054;
    case ENOMEM:
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    default:
        // Every number raised has a text: what the table does not know
        // ended the operation from within this machine.
        return 10053;
    }
}

TIdStackPosix::TIdStackPosix() {
    // POSIX sockets need no library start; the state is still kept once per process.
    EnsureStackLibraryStarted([] { return 0; });
}

int TIdStackPosix::FamilyOf(TIdIPVersion version) {
    switch (version) {
    case Id_IPv4:
        return AF_INET;
    case Id_IPv6:
        return AF_INET6;
    }
    throw EIdIPVersionUnsupported("The requested IPVersion / Address family is not supported.");
}

std::string TIdStackPosix::NameToAddress(const std::string& host, TIdIPVersion version) {
    const int family = FamilyOf(version);
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList list;
    const int code = LookUp(host.c_str(), nullptr, &hints, &list.head);
    if (code != 0) RaiseResolverFailure(*this, code, version);
    for (const addrinfo* ai = list.head; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && version == Id_IPv4) {
            const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            return AddressToText(reinterpret_cast<const std::uint8_t*>(&sin->sin_addr), Id_IPv4);
        }
        if (ai->ai_family == AF_INET6 && version == Id_IPv6) {
            const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
            return AddressToText(reinterpret_cast<const std::uint8_t*>(&sin6->sin6_addr), Id_IPv6);
        }
    }
    tLastSocketError = 11004;
    RaiseFromLastError();
}

std::string TIdStackPosix::LocalHostName() {
    char name[251] = {};
    ::gethostname(name, 250);
    return std::string(name);
}

void TIdStackPosix::FillOwnAddressList() {
    ownAddresses_->clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList list;
    const int code = LookUp(OwnHostName.c_str(), nullptr, &hints, &list.head);
    if (code != 0) RaiseResolverFailure(*this, code, Id_IPv4);
    for (const addrinfo* ai = list.head; ai; ai = ai->ai_next) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        const std::string text =
            AddressToText(reinterpret_cast<const std::uint8_t*>(&sin->sin_addr), Id_IPv4);
        bool seen = false;
        for (const auto& a : *ownAddresses_)
            seen = seen || a == text;
        if (!seen) ownAddresses_->push_back(text);
    }
}

int TIdStackPosix::ControlSocket(TIdStackSocketHandle socket, unsigned long command,
                                 unsigned long& argument) {
    int value = static_cast<int>(argument);
    const int r = Result(::ioctl(Fd(socket), command, &value));
    argument = static_cast<unsigned long>(value);
    return r;
}

std::string TIdStackPosix::AddressToName(const std::string& ip, TIdIPVersion version) {
    const SocketAddress address = MakeAddress(ip, version, 0);
    char host[1025] = {};
    const int code = getnameinfo(reinterpret_cast<const sockaddr*>(address.Bytes),
                                 static_cast<socklen_t>(address.Length), host, sizeof host, nullptr,
                                 0, NI_NAMEREQD);
    if (code != 0) RaiseResolverFailure(*this, code, version);
    return host;
}

std::uint16_t TIdStackPosix::HostOrder16ToNet(std::uint16_t value) {
    return htons(value);
}
std::uint32_t TIdStackPosix::HostOrder32ToNet(std::uint32_t value) {
    return htonl(value);
}
std::uint16_t TIdStackPosix::NetOrder16ToHost(std::uint16_t value) {
    return ntohs(value);
}
std::uint32_t TIdStackPosix::NetOrder32ToHost(std::uint32_t value) {
    return ntohl(value);
}

bool TIdStackPosix::HasIPv6Transport() {
    return CanOpenFamily(Id_IPv6);
}

void TIdStackPosix::SetGroupTTL(TIdStackSocketHandle socket, int ttl, TIdIPVersion version) {
    if (version == Id_IPv4)
        WriteIntOption(socket, IPPROTO_IP, IP_MULTICAST_TTL, ttl);
    else
        WriteIntOption(socket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, ttl);
}

void TIdStackPosix::SetGroupLoopback(TIdStackSocketHandle socket, bool on, TIdIPVersion version) {
    if (version == Id_IPv4)
        WriteIntOption(socket, IPPROTO_IP, IP_MULTICAST_LOOP, on ? 1 : 0);
    else
        WriteIntOption(socket, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, on ? 1 : 0);
}

void TIdStackPosix::ChangeGroupMembership(TIdStackSocketHandle socket, const std::string& group,
                                          const std::string& local, TIdIPVersion version,
                                          bool join) {
    if (version == Id_IPv4) {
        ip_mreq request{};
        std::memcpy(&request.imr_multiaddr, TextToAddress(group, Id_IPv4).data(), 4);
        if (!local.empty())
            std::memcpy(&request.imr_interface, TextToAddress(local, Id_IPv4).data(), 4);
        WriteOption(socket, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &request,
                    sizeof request);
    } else {
        ipv6_mreq request{};
        std::memcpy(&request.ipv6mr_multiaddr, TextToAddress(group, Id_IPv6).data(), 16);
        WriteOption(socket, IPPROTO_IPV6, join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP, &request,
                    sizeof request);
    }
}

int TIdStackPosix::RawClose(TIdStackSocketHandle socket) {
    return Result(::close(Fd(socket)));
}

int TIdStackPosix::RawReceive(TIdStackSocketHandle socket, void* buffer, int length, int flags) {
    ssize_t n;
    do {
        n = ::recv(Fd(socket), buffer, static_cast<std::size_t>(length), flags);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int TIdStackPosix::RawSend(TIdStackSocketHandle socket, const void* buffer, int length, int flags) {
    // A peer that has gone must surface as an error, never as a signal.
    ssize_t n;
    do {
        n = ::send(Fd(socket), buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int TIdStackPosix::RawShutdown(TIdStackSocketHandle socket, int how) {
    return Result(::shutdown(Fd(socket), how));
}

int TIdStackPosix::ServiceToPort(const std::string& service) {
    if (const servent* entry = ::getservbyname(service.c_str(), nullptr))
        return NetOrder16ToHost(static_cast<std::uint16_t>(entry->s_port));
    const auto value = TryTextToInt32(service);
    if (!value) throw EIdInvalidServiceName(service + " is not a valid service.");
    return *value;
}

std::vector<std::string> TIdStackPosix::PortToServices(int port) {
    std::vector<std::string> names;
    const servent* entry =
        ::getservbyport(HostOrder16ToNet(static_cast<std::uint16_t>(port)), nullptr);
    if (!entry) return names;
    names.emplace_back(entry->s_name);
    for (char** alias = entry->s_aliases; alias && *alias; ++alias)
        names.emplace_back(*alias);
    return names;
}

TIdStackSocketHandle TIdStackPosix::RawOpenSocket(int family, int type, int protocol, bool) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail();
        return Id_INVALID_SOCKET;
    }
    return fd;
}

int TIdStackPosix::LastSocketError() {
    return tLastSocketError;
}

void TIdStackPosix::SetBlockingMode(TIdStackSocketHandle socket, bool blocking) {
    const int flags = ::fcntl(Fd(socket), F_GETFL);
    CheckSocketResult(Result(flags));
    CheckSocketResult(
        Result(::fcntl(Fd(socket), F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK)));
}

int TIdStackPosix::WaitForSockets(TIdSocketArray* read, TIdSocketArray* write,
                                  TIdSocketArray* error, int timeoutMs) {
    // poll, unlike select, works for descriptors of any number.
    struct Entry {
        TIdSocketArray* set;
        short events;
    };
    const Entry entries[] = {{read, POLLIN}, {write, POLLOUT}, {error, POLLPRI}};
    pollfd fds[3 * TIdSocketArray::Capacity];
    nfds_t count = 0;
    for (const auto& e : entries) {
        if (!e.set) continue;
        for (int i = 0; i < e.set->Count; ++i)
            fds[count++] = {Fd(e.set->Handles[i]), e.events, 0};
    }
    if (count == 0) {
        // Nothing to wait on would wait forever; select refuses it too.
        tLastSocketError = 10022;
        return Id_SOCKET_ERROR;
    }
    // A wait restarted after a signal waits only for what is left of its time.
    const int timeout = timeoutMs == -2 ? -1 : std::max(timeoutMs, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    int r;
    for (int left = timeout;;) {
        r = ::poll(fds, count, left);
        if (r >= 0 || errno != EINTR) break;
        if (timeout >= 0) {
            const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            left = static_cast<int>(std::max<std::int64_t>(remaining.count(), 0));
        }
    }
    if (r < 0) return Fail();
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents & POLLNVAL) {
            tLastSocketError = 10038;
            return Id_SOCKET_ERROR;
        }
    }
    int ready = 0;
    nfds_t at = 0;
    for (const auto& e : entries) {
        if (!e.set) continue;
        const int n = e.set->Count;
        int kept = 0;
        for (int i = 0; i < n; ++i, ++at) {
            short mask = e.events;
            if (e.events != POLLPRI) mask |= POLLHUP | POLLERR;
            if (fds[at].revents & mask) e.set->Handles[kept++] = e.set->Handles[i];
        }
        for (int i = kept; i < n; ++i)
            e.set->Handles[i] = 0;
        e.set->Count = kept;
        ready += kept;
    }
    return ready;
}

int TIdStackPosix::RawBind(TIdStackSocketHandle socket, const void* address, int length) {
    return Result(
        ::bind(Fd(socket), static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)));
}

int TIdStackPosix::RawConnect(TIdStackSocketHandle socket, const void* address, int length) {
    if (::connect(Fd(socket), static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) == 0) return 0;
    if (errno != EINTR) return Fail();
    // An interrupted connect goes on without us: its end shows as the socket
    // turning writable, and its outcome in SO_ERROR.
    pollfd fd{Fd(socket), POLLOUT, 0};
    int r;
    do {
        r = ::poll(&fd, 1, -1);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return Fail();
    if (fd.revents & POLLNVAL) {
        tLastSocketError = 10038;
        return Id_SOCKET_ERROR;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return Fail();
    if (error == 0) return 0;
    tLastSocketError = MapErrnoToSocketError(error);
    return Id_SOCKET_ERROR;
}

int TIdStackPosix::RawGetSockName(TIdStackSocketHandle socket, void* address, int& length) {
    auto len = static_cast<socklen_t>(length);
    const int r = Result(::getsockname(Fd(socket), static_cast<sockaddr*>(address), &len));
    length = static_cast<int>(len);
    return r;
}

int TIdStackPosix::RawGetPeerName(TIdStackSocketHandle socket, void* address, int& length) {
    auto len = static_cast<socklen_t>(length);
    const int r = Result(::getpeername(Fd(socket), static_cast<sockaddr*>(address), &len));
    length = static_cast<int>(len);
    return r;
}

TIdStackSocketHandle TIdStackPosix::RawAccept(TIdStackSocketHandle socket, void* address,
                                              int& length) {
    auto len = static_cast<socklen_t>(length);
    const int fd = ::accept4(Fd(socket), static_cast<sockaddr*>(address), &len, SOCK_CLOEXEC);
    length = static_cast<int>(len);
    if (fd < 0) {
        Fail();
        return Id_INVALID_SOCKET;
    }
    return fd;
}

int TIdStackPosix::RawListen(TIdStackSocketHandle socket, int backlog) {
    return Result(::listen(Fd(socket), backlog));
}

int TIdStackPosix::RawSetSockOpt(TIdStackSocketHandle socket, int level, int option,
                                 const void* value, int length) {
    return Result(::setsockopt(Fd(socket), level, option, value, static_cast<socklen_t>(length)));
}

int TIdStackPosix::RawGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                                 int& length) {
    auto len = static_cast<socklen_t>(length);
    const int r = Result(::getsockopt(Fd(socket), level, option, value, &len));
    length = static_cast<int>(len);
    return r;
}

int TIdStackPosix::RawRecvFrom(TIdStackSocketHandle socket, void* buffer, int length, void* address,
                               int& addressLength) {
    auto len = static_cast<socklen_t>(addressLength);
    const ssize_t n = ::recvfrom(Fd(socket), buffer, static_cast<std::size_t>(length), 0,
                                 static_cast<sockaddr*>(address), &len);
    addressLength = static_cast<int>(len);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int TIdStackPosix::RawSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                             const void* address, int addressLength) {
    const ssize_t n =
        ::sendto(Fd(socket), buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                 static_cast<const sockaddr*>(address), static_cast<socklen_t>(addressLength));
    return n < 0 ? Fail() : static_cast<int>(n);
}

TIdStackFactory DefaultStackKind() {
    return [] { return std::unique_ptr<TIdStack>(std::make_unique<TIdStackPosix>()); };
}
