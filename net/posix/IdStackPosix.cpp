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
        return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return Id_WSATRY_AGAIN;
    case EAI_FAIL:
        return Id_WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return Id_WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return Id_WSANO_DATA;
#endif
    case EAI_BADFLAGS:
        return Id_WSAEINVAL;
    case EAI_FAMILY:
        return Id_WSAEAFNOSUPPORT;
    case EAI_MEMORY:
        return Id_WSAENOBUFS;
    case EAI_SERVICE:
        return Id_WSATYPE_NOT_FOUND;
    case EAI_SOCKTYPE:
        return Id_WSAESOCKTNOSUPPORT;
    default:
        return Id_WSANO_RECOVERY;
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
        return Id_WSAEINTR;
    case EBADF:
        return Id_WSAEBADF;
    case EPERM:
    case EACCES:
        return Id_WSAEACCES;
    case EFAULT:
        return Id_WSAEFAULT;
    case EINVAL:
        return Id_WSAEINVAL;
    case ENFILE:
    case EMFILE:
        return Id_WSAEMFILE;
    case EAGAIN:
        return Id_WSAEWOULDBLOCK;
    case EINPROGRESS:
        return Id_WSAEINPROGRESS;
    case EALREADY:
        return Id_WSAEALREADY;
    case ENOTSOCK:
        return Id_WSAENOTSOCK;
    case EDESTADDRREQ:
        return Id_WSAEDESTADDRREQ;
    case EMSGSIZE:
        return Id_WSAEMSGSIZE;
    case EPROTOTYPE:
        return Id_WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return Id_WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return Id_WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return Id_WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return Id_WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return Id_WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return Id_WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return Id_WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return Id_WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return Id_WSAENETDOWN;
    case ENETUNREACH:
        return Id_WSAENETUNREACH;
    case ENETRESET:
        return Id_WSAENETRESET;
    case ECONNABORTED:
        return Id_WSAECONNABORTED;
    case ECONNRESET:
        return Id_WSAECONNRESET;
    case EPIPE:
        return Id_WSAECONNRESET;
    case ENOMEM:
    case ENOBUFS:
        return Id_WSAENOBUFS;
    case EISCONN:
        return Id_WSAEISCONN;
    case ENOTCONN:
        return Id_WSAENOTCONN;
    case ESHUTDOWN:
        return Id_WSAESHUTDOWN;
    case ETOOMANYREFS:
        return Id_WSAETOOMANYREFS;
    case ETIMEDOUT:
        return Id_WSAETIMEDOUT;
    case ECONNREFUSED:
        return Id_WSAECONNREFUSED;
    case ELOOP:
        return Id_WSAELOOP;
    case ENAMETOOLONG:
        return Id_WSAENAMETOOLONG;
    case EHOSTDOWN:
        return Id_WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return Id_WSAEHOSTUNREACH;
    case ENOTEMPTY:
        return Id_WSAENOTEMPTY;
    default:
        // Every number raised has a text: what the table does not know
        // ended the operation from within this machine.
        return Id_WSAECONNABORTED;
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
    throw EIdIPVersionUnsupported();
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
    tLastSocketError = Id_WSANO_DATA;
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
        for (const auto& a : *ownAddresses_) seen = seen || a == text;
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

const TIdStackBSDBase::MulticastOptions& TIdStackPosix::Multicast() const {
    static const MulticastOptions options{
        IPPROTO_IP,        IPPROTO_IPV6,        IP_MULTICAST_TTL,  IPV6_MULTICAST_HOPS,
        IP_MULTICAST_LOOP, IPV6_MULTICAST_LOOP, IP_ADD_MEMBERSHIP, IP_DROP_MEMBERSHIP,
        IPV6_JOIN_GROUP,   IPV6_LEAVE_GROUP};
    return options;
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
    for (char** alias = entry->s_aliases; alias && *alias; ++alias) names.emplace_back(*alias);
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
        for (int i = 0; i < e.set->Count; ++i) fds[count++] = {Fd(e.set->Handles[i]), e.events, 0};
    }
    if (count == 0) {
        // Nothing to wait on would wait forever; select refuses it too.
        tLastSocketError = Id_WSAEINVAL;
        return Id_SOCKET_ERROR;
    }
    // A wait restarted after a signal waits only for what is left of its time.
    const int timeout = timeoutMs == -2 ? -1 : std::max(timeoutMs, 0);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
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
            tLastSocketError = Id_WSAENOTSOCK;
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
        for (int i = kept; i < n; ++i) e.set->Handles[i] = 0;
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
    if (::connect(Fd(socket), static_cast<const sockaddr*>(address),
                  static_cast<socklen_t>(length)) == 0)
        return 0;
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
        tLastSocketError = Id_WSAENOTSOCK;
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
