#include "net/windows/IdWinSock2.h"

#include "host/Exception.h"
#include "net/IdExceptionCore.h"

#include <windows.h>

#include <atomic>
#include <iterator>

namespace IdWinsock {

namespace {

constexpr const char* kEntryNames[] = {
#define VYK_WINSOCK_NAME(entry, name, declaration) name,
    VYK_WINSOCK_TABLE(VYK_WINSOCK_NAME)
#undef VYK_WINSOCK_NAME
};
static_assert(std::size(kEntryNames) == EntryCount);

// Set once and never cleared: WS2_32.DLL stays loaded until the process ends.
std::atomic<HMODULE> gLibrary{nullptr};

// The IPv6 name functions and, when they came from there, Wship6.dll.
HMODULE gIPv6Library = nullptr;
GetAddrInfoFunction gGetAddrInfo = nullptr;
GetNameInfoFunction gGetNameInfo = nullptr;
FreeAddrInfoFunction gFreeAddrInfo = nullptr;
bool gIPv6NamesAvailable = false;

void* Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(library, name));
}

// Looks the three functions up in one library; all or nothing.
bool FindIPv6Names(HMODULE library) {
    void* get = Lookup(library, "getaddrinfo");
    void* name = get ? Lookup(library, "getnameinfo") : nullptr;
    void* release = name ? Lookup(library, "freeaddrinfo") : nullptr;
    if (!release) return false;
    gGetAddrInfo = reinterpret_cast<GetAddrInfoFunction>(get);
    gGetNameInfo = reinterpret_cast<GetNameInfoFunction>(name);
    gFreeAddrInfo = reinterpret_cast<FreeAddrInfoFunction>(release);
    return true;
}

void ClearIPv6Names() {
    gIPv6NamesAvailable = false;
    gGetAddrInfo = nullptr;
    gGetNameInfo = nullptr;
    gFreeAddrInfo = nullptr;
}

// Wship6.dll only exists on Windows versions older than XP SP2; looking there
// alone would report IPv6 names unavailable on every current system.
void LoadIPv6Names(HMODULE ws2) {
    ClearIPv6Names();
    if (FindIPv6Names(ws2)) {
        gIPv6NamesAvailable = true;
        return;
    }
    HMODULE wship6 = ::LoadLibraryW(L"Wship6.dll");
    if (!wship6) return;
    if (FindIPv6Names(wship6)) {
        gIPv6Library = wship6;
        gIPv6NamesAvailable = true;
        return;
    }
    ::FreeLibrary(wship6);
    ClearIPv6Names();
}

// Unloads Wship6.dll at program end, when it was the one that served the names.
struct IPv6LibraryRelease {
    ~IPv6LibraryRelease() {
        HMODULE library = gIPv6Library;
        gIPv6Library = nullptr;
        if (!library) return;
        ClearIPv6Names();
        ::FreeLibrary(library);
    }
} gIPv6LibraryRelease;

} // namespace

#define VYK_WINSOCK_DEFINE(entry, name, declaration)                                               \
    Binder<Entry::entry##_, entry##_type>::Pointer entry =                                         \
        &Binder<Entry::entry##_, entry##_type>::Call;
VYK_WINSOCK_TABLE(VYK_WINSOCK_DEFINE)
#undef VYK_WINSOCK_DEFINE

namespace {

// Per entry: store a looked-up function into it, and tell whether it still
// points at its binder.
struct EntrySlot {
    void (*store)(void* function);
    bool (*unbound)();
};

const EntrySlot kSlots[] = {
#define VYK_WINSOCK_SLOT(entry, name, declaration)                                                 \
    {[](void* function) { entry = reinterpret_cast<decltype(entry)>(function); },                  \
     [] { return entry == &Binder<Entry::entry##_, entry##_type>::Call; }},
    VYK_WINSOCK_TABLE(VYK_WINSOCK_SLOT)
#undef VYK_WINSOCK_SLOT
};

void StoreEntry(Entry entry, void* function) {
    // Two threads binding the same entry store the same function: no lock needed.
    kSlots[static_cast<std::size_t>(entry)].store(function);
}

} // namespace

const char* EntryName(Entry entry) {
    return kEntryNames[static_cast<std::size_t>(entry)];
}

void* BindEntry(Entry entry) {
    const char* name = EntryName(entry);
    HMODULE library = gLibrary.load();
    if (!library)
        throw EIdWinsockStubError(Format("Error on call Winsock2 library function %s", name),
                                  WSANOTINITIALISED);
    void* function = Lookup(library, name);
    if (!function)
        throw EIdWinsockStubError(Format("Error on call Winsock2 library function %s", name),
                                  ERROR_PROC_NOT_FOUND);
    StoreEntry(entry, function);
    return function;
}

bool IsUnbound(Entry entry) {
    return kSlots[static_cast<std::size_t>(entry)].unbound();
}

bool LibraryLoaded() {
    return gLibrary.load() != nullptr;
}

int LoadAndStartLibrary(std::uint16_t version) {
    if (gLibrary.load()) return 0;
    HMODULE library = ::LoadLibraryW(L"WS2_32.DLL");
    if (!library)
        throw EIdWinsockStubError(Format("Error on loading Winsock2 library (%s)", "WS2_32.DLL"),
                                  ::GetLastError());
    LoadIPv6Names(library);
    gLibrary.store(library);
    using StartupFunction = decltype(&::WSAStartup);
    auto startup = reinterpret_cast<StartupFunction>(Lookup(library, "WSAStartup"));
    WSADATA data{};
    return startup(version, &data);
}

bool IPv6NamesAvailable() {
    return gIPv6NamesAvailable;
}
GetAddrInfoFunction GetAddrInfo() {
    return gGetAddrInfo;
}
GetNameInfoFunction GetNameInfo() {
    return gGetNameInfo;
}
FreeAddrInfoFunction FreeAddrInfo() {
    return gFreeAddrInfo;
}

} // namespace IdWinsock
