#include "net/IdStackBSDBase.h"

#include "net/IdExceptionCore.h"

#include <cstring>

TIdStackBSDBase::SocketAddress TIdStackBSDBase::MakeAddress(const std::string& ip,
                                                            TIdIPVersion version, int port) {
    CheckRange(port, 0, 65535);
    SocketAddress address;
    const auto family = static_cast<std::uint16_t>(FamilyOf(version));
    std::memcpy(address.Bytes, &family, 2);
    const std::uint16_t netPort = HostOrder16ToNet(static_cast<std::uint16_t>(port));
    std::memcpy(address.Bytes + 2, &netPort, 2);
    if (version == Id_IPv4) {
        if (!ip.empty()) std::memcpy(address.Bytes + 4, TextToAddress(ip, version).data(), 4);
        address.Length = 16;
    } else {
        if (!ip.empty()) std::memcpy(address.Bytes + 8, TextToAddress(ip, version).data(), 16);
        address.Length = 28;
    }
    return address;
}

TIdEndpoint TIdStackBSDBase::ReadAddress(const SocketAddress& address) {
    std::uint16_t family;
    std::uint16_t netPort;
    std::memcpy(&family, address.Bytes, 2);
    std::memcpy(&netPort, address.Bytes + 2, 2);
    TIdEndpoint endpoint;
    if (family == FamilyOf(Id_IPv4)) {
        endpoint.IPVersion = Id_IPv4;
        endpoint.IP = AddressToText(address.Bytes + 4, Id_IPv4);
    } else if (family == FamilyOf(Id_IPv6)) {
        endpoint.IPVersion = Id_IPv6;
        endpoint.IP = AddressToText(address.Bytes + 8, Id_IPv6);
    } else {
        throw EIdIPVersionUnsupported();
    }
    endpoint.Port = NetOrder16ToHost(netPort);
    return endpoint;
}

void TIdStackBSDBase::BindEndpoint(TIdStackSocketHandle socket, const std::string& ip,
                                   TIdIPVersion version, int port) {
    const SocketAddress address = MakeAddress(ip, version, port);
    CheckSocketResult(RawBind(socket, address.Bytes, address.Length));
}

void TIdStackBSDBase::ConnectEndpoint(TIdStackSocketHandle socket, const std::string& ip,
                                      TIdIPVersion version, int port) {
    const SocketAddress address = MakeAddress(ip, version, port);
    CheckSocketResult(RawConnect(socket, address.Bytes, address.Length));
}

TIdEndpoint TIdStackBSDBase::PeerEndpoint(TIdStackSocketHandle socket) {
    SocketAddress address;
    address.Length = sizeof address.Bytes;
    CheckSocketResult(RawGetPeerName(socket, address.Bytes, address.Length));
    return ReadAddress(address);
}

TIdEndpoint TIdStackBSDBase::OwnEndpoint(TIdStackSocketHandle socket) {
    SocketAddress address;
    address.Length = sizeof address.Bytes;
    CheckSocketResult(RawGetSockName(socket, address.Bytes, address.Length));
    return ReadAddress(address);
}

TIdStackSocketHandle TIdStackBSDBase::AcceptPeer(TIdStackSocketHandle socket, TIdEndpoint& peer) {
    SocketAddress address;
    address.Length = sizeof address.Bytes;
    const TIdStackSocketHandle accepted = RawAccept(socket, address.Bytes, address.Length);
    CheckSocketHandle(accepted);
    peer = ReadAddress(address);
    return accepted;
}

void TIdStackBSDBase::ListenOn(TIdStackSocketHandle socket, int backlog) {
    CheckSocketResult(RawListen(socket, backlog));
}

TIdStackSocketHandle TIdStackBSDBase::OpenSocket(int type, int protocol, bool overlapped,
                                                 TIdIPVersion version) {
    return CheckSocketHandle(RawOpenSocket(FamilyOf(version), type, protocol, overlapped));
}

int TIdStackBSDBase::ReadIntOption(TIdStackSocketHandle socket, int level, int option) {
    int value = 0;
    int length = sizeof value;
    CheckSocketResult(RawGetSockOpt(socket, level, option, &value, length));
    return value;
}

void TIdStackBSDBase::WriteIntOption(TIdStackSocketHandle socket, int level, int option,
                                     int value) {
    CheckSocketResult(RawSetSockOpt(socket, level, option, &value, sizeof value));
}

void TIdStackBSDBase::WriteOption(TIdStackSocketHandle socket, int level, int option,
                                  const void* value, int length) {
    CheckSocketResult(RawSetSockOpt(socket, level, option, value, length));
}

void TIdStackBSDBase::ReadOption(TIdStackSocketHandle socket, int level, int option, void* value,
                                 int& length) {
    CheckSocketResult(RawGetSockOpt(socket, level, option, value, length));
}

int TIdStackBSDBase::ReceiveInto(TIdStackSocketHandle socket, TIdBytes& buffer) {
    if (buffer.empty()) throw ERangeError();
    return CheckSocketResult(RawReceive(socket, buffer.data(), static_cast<int>(buffer.size()), 0));
}

int TIdStackBSDBase::SendFrom(TIdStackSocketHandle socket, const TIdBytes& buffer, int offset,
                              int count) {
    const int size = static_cast<int>(buffer.size());
    if (count == -1) count = size - offset;
    if (offset < 0 || (offset >= size && !(offset == 0 && size == 0)) || count < 0 ||
        count > size - offset)
        throw ERangeError();
    return CheckSocketResult(RawSend(socket, buffer.data() + offset, count, 0));
}

int TIdStackBSDBase::ReceiveDatagram(TIdStackSocketHandle socket, TIdBytes& buffer,
                                     TIdEndpoint& from) {
    if (buffer.empty()) throw ERangeError();
    SocketAddress address;
    address.Length = sizeof address.Bytes;
    const int n = CheckSocketResult(RawRecvFrom(
        socket, buffer.data(), static_cast<int>(buffer.size()), address.Bytes, address.Length));
    from = ReadAddress(address);
    return n;
}

int TIdStackBSDBase::SendDatagram(TIdStackSocketHandle socket, const TIdBytes& buffer,
                                  const TIdEndpoint& to) {
    const SocketAddress address = MakeAddress(to.IP, to.IPVersion, to.Port);
    const int length = static_cast<int>(buffer.size());
    const int sent = RawSendTo(socket, buffer.data(), length, address.Bytes, address.Length);
    if (sent == Id_SOCKET_ERROR) {
        const int error = LastSocketError();
        if (error == Id_WSAEMSGSIZE) throw EIdPackageSizeTooBig();
        RaiseForErrorNumber(error);
    }
    if (sent < length) throw EIdNotAllBytesSent();
    return length;
}

void TIdStackBSDBase::ShutdownAndClose(TIdStackSocketHandle socket) {
    RawShutdown(socket, Id_SD_SEND);
    RawClose(socket);
}

void TIdStackBSDBase::InterruptBlockedCalls(TIdStackSocketHandle socket) {
    // A connect still in progress is aborted by shutting the socket down.
    RawShutdown(socket, Id_SD_BOTH);
}

bool TIdStackBSDBase::CanOpenFamily(TIdIPVersion version) {
    const TIdStackSocketHandle socket = RawOpenSocket(FamilyOf(version), Id_SOCK_STREAM, 0, false);
    if (socket == Id_INVALID_SOCKET) return false;
    RawClose(socket);
    return true;
}

void TIdStackBSDBase::SetGroupTTL(TIdStackSocketHandle socket, int ttl, TIdIPVersion version) {
    const MulticastOptions& o = Multicast();
    if (version == Id_IPv4)
        WriteIntOption(socket, o.IPv4Level, o.IPv4TTL, ttl);
    else
        WriteIntOption(socket, o.IPv6Level, o.IPv6Hops, ttl);
}

void TIdStackBSDBase::SetGroupLoopback(TIdStackSocketHandle socket, bool on, TIdIPVersion version) {
    const MulticastOptions& o = Multicast();
    if (version == Id_IPv4)
        WriteIntOption(socket, o.IPv4Level, o.IPv4Loop, on ? 1 : 0);
    else
        WriteIntOption(socket, o.IPv6Level, o.IPv6Loop, on ? 1 : 0);
}

void TIdStackBSDBase::ChangeGroupMembership(TIdStackSocketHandle socket, const std::string& group,
                                            const std::string& local, TIdIPVersion version,
                                            bool join) {
    const MulticastOptions& o = Multicast();
    if (version == Id_IPv4) {
        std::uint8_t request[8] = {}; // ip_mreq: the group, then the interface
        std::memcpy(request, TextToAddress(group, Id_IPv4).data(), 4);
        if (!local.empty()) std::memcpy(request + 4, TextToAddress(local, Id_IPv4).data(), 4);
        WriteOption(socket, o.IPv4Level, join ? o.IPv4Join : o.IPv4Leave, request, sizeof request);
    } else {
        std::uint8_t request[20] = {}; // ipv6_mreq: the group, then the interface index
        std::memcpy(request, TextToAddress(group, Id_IPv6).data(), 16);
        WriteOption(socket, o.IPv6Level, join ? o.IPv6Join : o.IPv6Leave, request, sizeof request);
    }
}

void TIdStackBSDBase::JoinGroup(TIdStackSocketHandle socket, const std::string& group,
                                const std::string& local, TIdIPVersion version) {
    ChangeGroupMembership(socket, group, local, version, true);
}

void TIdStackBSDBase::LeaveGroup(TIdStackSocketHandle socket, const std::string& group,
                                 const std::string& local, TIdIPVersion version) {
    ChangeGroupMembership(socket, group, local, version, false);
}
