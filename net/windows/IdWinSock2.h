#pragma once
// Windows Sockets 2, loaded at run time from WS2_32.DLL. Every library function
// is reached through an entry of the binding table; each entry starts out at a
// lazy binder that looks the function up on its first call and then stores it,
// so later calls go straight to the library. Calling an entry before the
// library is loaded raises EIdWinsockStubError with system error 10093.

#include <winsock2.h>

#include <mswsock.h>
#include <ws2tcpip.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The binding table in its fixed order: (entry, exported name, declaration that
// gives the entry its type). The generic entries (...Generic, named without A or W,
// typed as the A form) bind their name as it is, except the generic protocol
// enumeration, which binds the A name.
#define VYK_WINSOCK_TABLE(X)                                                                       \
    X(WSACleanup, "WSACleanup", WSACleanup)                                                        \
    X(accept, "accept", accept)                                                                    \
    X(bind, "bind", bind)                                                                          \
    X(closesocket, "closesocket", closesocket)                                                     \
    X(connect, "connect", connect)                                                                 \
    X(ioctlsocket, "ioctlsocket", ioctlsocket)                                                     \
    X(getpeername, "getpeername", getpeername)                                                     \
    X(getsockname, "getsockname", getsockname)                                                     \
    X(getsockopt, "getsockopt", getsockopt)                                                        \
    X(htonl, "htonl", htonl)                                                                       \
    X(htons, "htons", htons)                                                                       \
    X(inet_addr, "inet_addr", inet_addr)                                                           \
    X(inet_ntoa, "inet_ntoa", inet_ntoa)                                                           \
    X(listen, "listen", listen)                                                                    \
    X(ntohl, "ntohl", ntohl)                                                                       \
    X(ntohs, "ntohs", ntohs)                                                                       \
    X(recv, "recv", recv)                                                                          \
    X(recvfrom, "recvfrom", recvfrom)                                                              \
    X(select, "select", select)                                                                    \
    X(send, "send", send)                                                                          \
    X(sendto, "sendto", sendto)                                                                    \
    X(setsockopt, "setsockopt", setsockopt)                                                        \
    X(shutdown, "shutdown", shutdown)                                                              \
    X(socket, "socket", socket)                                                                    \
    X(gethostbyaddr, "gethostbyaddr", gethostbyaddr)                                               \
    X(gethostbyname, "gethostbyname", gethostbyname)                                               \
    X(gethostname, "gethostname", gethostname)                                                     \
    X(getservbyport, "getservbyport", getservbyport)                                               \
    X(getservbyname, "getservbyname", getservbyname)                                               \
    X(getprotobynumber, "getprotobynumber", getprotobynumber)                                      \
    X(getprotobyname, "getprotobyname", getprotobyname)                                            \
    X(WSASetLastError, "WSASetLastError", WSASetLastError)                                         \
    X(WSAGetLastError, "WSAGetLastError", WSAGetLastError)                                         \
    X(WSAIsBlocking, "WSAIsBlocking", WSAIsBlocking)                                               \
    X(WSAUnhookBlockingHook, "WSAUnhookBlockingHook", WSAUnhookBlockingHook)                       \
    X(WSASetBlockingHook, "WSASetBlockingHook", WSASetBlockingHook)                                \
    X(WSACancelBlockingCall, "WSACancelBlockingCall", WSACancelBlockingCall)                       \
    X(WSAAsyncGetServByName, "WSAAsyncGetServByName", WSAAsyncGetServByName)                       \
    X(WSAAsyncGetServByPort, "WSAAsyncGetServByPort", WSAAsyncGetServByPort)                       \
    X(WSAAsyncGetProtoByName, "WSAAsyncGetProtoByName", WSAAsyncGetProtoByName)                    \
    X(WSAAsyncGetProtoByNumber, "WSAAsyncGetProtoByNumber", WSAAsyncGetProtoByNumber)              \
    X(WSAAsyncGetHostByName, "WSAAsyncGetHostByName", WSAAsyncGetHostByName)                       \
    X(WSAAsyncGetHostByAddr, "WSAAsyncGetHostByAddr", WSAAsyncGetHostByAddr)                       \
    X(WSACancelAsyncRequest, "WSACancelAsyncRequest", WSACancelAsyncRequest)                       \
    X(WSAAsyncSelect, "WSAAsyncSelect", WSAAsyncSelect)                                            \
    X(__WSAFDIsSet, "__WSAFDIsSet", __WSAFDIsSet)                                                  \
    X(WSAAccept, "WSAAccept", WSAAccept)                                                           \
    X(WSACloseEvent, "WSACloseEvent", WSACloseEvent)                                               \
    X(WSAConnect, "WSAConnect", WSAConnect)                                                        \
    X(WSACreateEvent, "WSACreateEvent", WSACreateEvent)                                            \
    X(WSADuplicateSocketA, "WSADuplicateSocketA", WSADuplicateSocketA)                             \
    X(WSADuplicateSocketW, "WSADuplicateSocketW", WSADuplicateSocketW)                             \
    X(WSADuplicateSocketGeneric, "WSADuplicateSocket", WSADuplicateSocketA)                        \
    X(WSAEnumNetworkEvents, "WSAEnumNetworkEvents", WSAEnumNetworkEvents)                          \
    X(WSAEnumProtocolsA, "WSAEnumProtocolsA", WSAEnumProtocolsA)                                   \
    X(WSAEnumProtocolsW, "WSAEnumProtocolsW", WSAEnumProtocolsW)                                   \
    X(WSAEnumProtocolsGeneric, "WSAEnumProtocolsA", WSAEnumProtocolsA)                             \
    X(WSAEventSelect, "WSAEventSelect", WSAEventSelect)                                            \
    X(WSAGetOverlappedResult, "WSAGetOverlappedResult", WSAGetOverlappedResult)                    \
    X(WSAGetQOSByName, "WSAGetQOSByName", WSAGetQOSByName)                                         \
    X(WSAHtonl, "WSAHtonl", WSAHtonl)                                                              \
    X(WSAHtons, "WSAHtons", WSAHtons)                                                              \
    X(WSAIoctl, "WSAIoctl", WSAIoctl)                                                              \
    X(WSAJoinLeaf, "WSAJoinLeaf", WSAJoinLeaf)                                                     \
    X(WSANtohl, "WSANtohl", WSANtohl)                                                              \
    X(WSANtohs, "WSANtohs", WSANtohs)                                                              \
    X(WSARecv, "WSARecv", WSARecv)                                                                 \
    X(WSARecvDisconnect, "WSARecvDisconnect", WSARecvDisconnect)                                   \
    X(WSARecvFrom, "WSARecvFrom", WSARecvFrom)                                                     \
    X(WSAResetEvent, "WSAResetEvent", WSAResetEvent)                                               \
    X(WSASend, "WSASend", WSASend)                                                                 \
    X(WSASendDisconnect, "WSASendDisconnect", WSASendDisconnect)                                   \
    X(WSASendTo, "WSASendTo", WSASendTo)                                                           \
    X(WSASetEvent, "WSASetEvent", WSASetEvent)                                                     \
    X(WSASocketA, "WSASocketA", WSASocketA)                                                        \
    X(WSASocketW, "WSASocketW", WSASocketW)                                                        \
    X(WSASocketGeneric, "WSASocket", WSASocketA)                                                   \
    X(WSAWaitForMultipleEvents, "WSAWaitForMultipleEvents", WSAWaitForMultipleEvents)              \
    X(WSAAddressToStringA, "WSAAddressToStringA", WSAAddressToStringA)                             \
    X(WSAAddressToStringW, "WSAAddressToStringW", WSAAddressToStringW)                             \
    X(WSAAddressToStringGeneric, "WSAAddressToString", WSAAddressToStringA)                        \
    X(WSAStringToAddressA, "WSAStringToAddressA", WSAStringToAddressA)                             \
    X(WSAStringToAddressW, "WSAStringToAddressW", WSAStringToAddressW)                             \
    X(WSAStringToAddressGeneric, "WSAStringToAddress", WSAStringToAddressA)                        \
    X(WSALookupServiceBeginA, "WSALookupServiceBeginA", WSALookupServiceBeginA)                    \
    X(WSALookupServiceBeginW, "WSALookupServiceBeginW", WSALookupServiceBeginW)                    \
    X(WSALookupServiceBeginGeneric, "WSALookupServiceBegin", WSALookupServiceBeginA)               \
    X(WSALookupServiceNextA, "WSALookupServiceNextA", WSALookupServiceNextA)                       \
    X(WSALookupServiceNextW, "WSALookupServiceNextW", WSALookupServiceNextW)                       \
    X(WSALookupServiceNextGeneric, "WSALookupServiceNext", WSALookupServiceNextA)                  \
    X(WSALookupServiceEnd, "WSALookupServiceEnd", WSALookupServiceEnd)                             \
    X(WSAInstallServiceClassA, "WSAInstallServiceClassA", WSAInstallServiceClassA)                 \
    X(WSAInstallServiceClassW, "WSAInstallServiceClassW", WSAInstallServiceClassW)                 \
    X(WSAInstallServiceClassGeneric, "WSAInstallServiceClass", WSAInstallServiceClassA)            \
    X(WSARemoveServiceClass, "WSARemoveServiceClass", WSARemoveServiceClass)                       \
    X(WSAGetServiceClassInfoA, "WSAGetServiceClassInfoA", WSAGetServiceClassInfoA)                 \
    X(WSAGetServiceClassInfoW, "WSAGetServiceClassInfoW", WSAGetServiceClassInfoW)                 \
    X(WSAGetServiceClassInfoGeneric, "WSAGetServiceClassInfo", WSAGetServiceClassInfoA)            \
    X(WSAEnumNameSpaceProvidersA, "WSAEnumNameSpaceProvidersA", WSAEnumNameSpaceProvidersA)        \
    X(WSAEnumNameSpaceProvidersW, "WSAEnumNameSpaceProvidersW", WSAEnumNameSpaceProvidersW)        \
    X(WSAEnumNameSpaceProvidersGeneric, "WSAEnumNameSpaceProviders", WSAEnumNameSpaceProvidersA)   \
    X(WSAGetServiceClassNameByClassIdA, "WSAGetServiceClassNameByClassIdA",                        \
      WSAGetServiceClassNameByClassIdA)                                                            \
    X(WSAGetServiceClassNameByClassIdW, "WSAGetServiceClassNameByClassIdW",                        \
      WSAGetServiceClassNameByClassIdW)                                                            \
    X(WSAGetServiceClassNameByClassIdGeneric, "WSAGetServiceClassNameByClassId",                   \
      WSAGetServiceClassNameByClassIdA)                                                            \
    X(WSASetServiceA, "WSASetServiceA", WSASetServiceA)                                            \
    X(WSASetServiceW, "WSASetServiceW", WSASetServiceW)                                            \
    X(WSASetServiceGeneric, "WSASetService", WSASetServiceA)                                       \
    X(WSAProviderConfigChange, "WSAProviderConfigChange", WSAProviderConfigChange)                 \
    X(TransmitFile, "TransmitFile", TransmitFile)

namespace IdWinsock {

enum class Entry : std::size_t {
#define VYK_WINSOCK_ENUM(entry, name, declaration) entry##_,
    VYK_WINSOCK_TABLE(VYK_WINSOCK_ENUM)
#undef VYK_WINSOCK_ENUM
        Count_
};

constexpr std::size_t EntryCount = static_cast<std::size_t>(Entry::Count_);

// The exported name an entry binds.
const char* EntryName(Entry entry);

// Looks an entry's function up in the loaded library and stores it. Raises
// EIdWinsockStubError "Error on call Winsock2 library function %s" with Id_WSANOTINITIALISED
// while the library is not loaded; a name the library does not export raises
// the same with the system's "procedure not found" number.
void* BindEntry(Entry entry);

template <Entry E, typename F> struct Binder;
template <Entry E, typename R, typename... A> struct Binder<E, R(A...)> {
    using Pointer = R (*)(A...);
    static R Call(A... args) { return reinterpret_cast<Pointer>(BindEntry(E))(args...); }
};

// The table entries themselves: IdWinsock::socket(...) calls through the entry.
#define VYK_WINSOCK_DECLARE(entry, name, declaration)                                              \
    using entry##_type = decltype(::declaration);                                                  \
    extern Binder<Entry::entry##_, entry##_type>::Pointer entry;
VYK_WINSOCK_TABLE(VYK_WINSOCK_DECLARE)
#undef VYK_WINSOCK_DECLARE

// True while the entry still points at its lazy binder.
bool IsUnbound(Entry entry);

bool LibraryLoaded();

// Loads WS2_32.DLL and calls WSAStartup with the version; returns its result.
// Returns 0 at once when the library is already loaded. A library that cannot
// be loaded raises EIdWinsockStubError "Error on loading Winsock2 library (%s)"
// with the system's last error.
int LoadAndStartLibrary(std::uint16_t version);

// The IPv6 name functions, found when the library is loaded: in WS2_32.DLL,
// where every current Windows has them, else in Wship6.dll.
bool IPv6NamesAvailable();
using GetAddrInfoFunction = decltype(&::getaddrinfo);
using GetNameInfoFunction = decltype(&::getnameinfo);
using FreeAddrInfoFunction = decltype(&::freeaddrinfo);
GetAddrInfoFunction GetAddrInfo();
GetNameInfoFunction GetNameInfo();
FreeAddrInfoFunction FreeAddrInfo();

} // namespace IdWinsock
