#include "net/IdStack.h"

#include "host/Exception.h"
#include "net/IdExceptionCore.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex& StackLock() {
    static std::mutex lock;
    return lock;
}

std::unique_ptr<TIdStack> gCurrentStack;
std::int32_t gStackUsers = 0;
TIdStackFactory gStackKind = DefaultStackKind();
bool gLibraryStarted = false;
int gLibraryStartCount = 0;

void CreateGlobalStack() {
    if (!gStackKind) throw EIdException("Stack Class is undefined.");
    if (gCurrentStack) throw EIdException("Stack already created.");
    auto stack = gStackKind();
    stack->OwnHostName = stack->LocalHostName();
    gCurrentStack = std::move(stack);
}

} // namespace

void SetStackKind(TIdStackFactory factory) {
    std::lock_guard guard(StackLock());
    gStackKind = std::move(factory);
}

void AcquireStack() {
    std::lock_guard guard(StackLock());
    ++gStackUsers;
    if (gStackUsers == 1) {
        try {
            CreateGlobalStack();
        } catch (...) {
            // The failed user holds no reference.
            --gStackUsers;
            throw;
        }
    }
}

void ReleaseStack() {
    std::lock_guard guard(StackLock());
    if (gStackUsers <= 0) return;
    --gStackUsers;
    if (gStackUsers == 0) gCurrentStack.reset();
}

TIdStack* CurrentStack() {
    return gCurrentStack.get();
}

std::int32_t StackUsers() {
    std::lock_guard guard(StackLock());
    return gStackUsers;
}

bool StackLibraryStarted() {
    return gLibraryStarted;
}
int StackLibraryStartCount() {
    return gLibraryStartCount;
}

void EnsureStackLibraryStarted(const std::function<int()>& start) {
    if (gLibraryStarted) return;
    ++gLibraryStartCount;
    if (start() != 0) throw EIdStackInitializationFailed();
    gLibraryStarted = true;
}

TIdStack::~TIdStack() = default;

std::string TIdStack::LookupHost(const std::string& host, TIdIPVersion version) {
    switch (version) {
    case Id_IPv4:
        if (TextIsSame(host, "LOCALHOST")) return "127.0.0.1";
        if (IsIPv4Text(host)) return host;
        return NameToAddress(host, Id_IPv4);
    case Id_IPv6: {
        const std::string canonical = CanonicalIPv6Text(host);
        if (!canonical.empty()) return canonical;
        return NameToAddress(host, Id_IPv6);
    }
    }
    throw EIdIPVersionUnsupported();
}

std::string TIdStack::OwnAddress() {
    const auto& list = OwnAddressList();
    return list.empty() ? std::string() : list.front();
}

const std::vector<std::string>& TIdStack::OwnAddressList() {
    if (!ownAddresses_) ownAddresses_ = std::make_unique<std::vector<std::string>>();
    FillOwnAddressList();
    return *ownAddresses_;
}

// The two 32-bit halves swap places, each converted on its own.
std::uint64_t TIdStack::NetOrder64ToHost(std::uint64_t value) {
    return (static_cast<std::uint64_t>(NetOrder32ToHost(static_cast<std::uint32_t>(value))) << 32) |
           NetOrder32ToHost(static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t TIdStack::HostOrder64ToNet(std::uint64_t value) {
    return (static_cast<std::uint64_t>(HostOrder32ToNet(static_cast<std::uint32_t>(value))) << 32) |
           HostOrder32ToNet(static_cast<std::uint32_t>(value >> 32));
}

std::array<std::uint16_t, 8>
TIdStack::HostOrder128ToNet(const std::array<std::uint16_t, 8>& value) {
    std::array<std::uint16_t, 8> out{};
    for (std::size_t i = 0; i < 8; ++i) out[i] = HostOrder16ToNet(value[i]);
    return out;
}

std::array<std::uint16_t, 8>
TIdStack::NetOrder128ToHost(const std::array<std::uint16_t, 8>& value) {
    std::array<std::uint16_t, 8> out{};
    for (std::size_t i = 0; i < 8; ++i) out[i] = NetOrder16ToHost(value[i]);
    return out;
}

std::uint16_t TIdStack::InternetChecksum(const TIdBytes& data) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < data.size(); i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (i < data.size()) sum += static_cast<std::uint32_t>(data[i] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::string TIdStack::SocketErrorText(int errorNumber) {
    return ::SocketErrorText(errorNumber);
}

bool TIdStack::IsWouldBlock(int result) {
    return CheckSocketResultTolerating(result, {Id_WSAEWOULDBLOCK}) == Id_WSAEWOULDBLOCK;
}

void TIdStack::RaiseFromLastError() {
    RaiseForErrorNumber(LastSocketError());
}

void TIdStack::RaiseForErrorNumber(int errorNumber) {
    ::RaiseForErrorNumber(errorNumber);
}

int TIdStack::CheckSocketResult(int result) {
    if (result == Id_SOCKET_ERROR) RaiseFromLastError();
    return result;
}

TIdStackSocketHandle TIdStack::CheckSocketHandle(TIdStackSocketHandle handle) {
    if (handle == Id_INVALID_SOCKET) RaiseFromLastError();
    return handle;
}

int TIdStack::CheckSocketResultTolerating(int result, std::initializer_list<int> tolerated) {
    if (result != Id_SOCKET_ERROR) return 0;
    const int error = LastSocketError();
    for (int t : tolerated)
        if (t == error) return error;
    RaiseForErrorNumber(error);
}

std::string TIdStack::AddressToText(const std::uint8_t* address, TIdIPVersion version) {
    if (version == Id_IPv4)
        return Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    if (version == Id_IPv6) {
        std::string out;
        for (int i = 0; i < 8; ++i) {
            std::uint16_t raw;
            std::memcpy(&raw, address + 2 * i, 2);
            if (i) out += ':';
            out += Format("%X", NetOrder16ToHost(raw));
        }
        return out;
    }
    throw EIdIPVersionUnsupported();
}

TIdBytes TIdStack::TextToAddress(const std::string& text, TIdIPVersion version) {
    if (version == Id_IPv4) {
        TIdBytes out;
        std::string rest = text;
        for (int i = 0; i < 4; ++i) {
            const auto dot = rest.find('.');
            const std::string part = rest.substr(0, dot);
            rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
            const std::int32_t value = TextToInt32(part);
            CheckRange(value, 0, 255);
            out.push_back(static_cast<std::uint8_t>(value));
        }
        return out;
    }
    if (version == Id_IPv6) {
        const std::string canonical = CanonicalIPv6Text(text);
        if (canonical.empty()) throw EIdInvalidIPv6Address(text + " is not a valid IPv6 address");
        std::array<std::uint16_t, 8> words{};
        std::string rest = canonical;
        for (auto& word : words) {
            const auto colon = rest.find(':');
            const std::string part = rest.substr(0, colon);
            rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
            word = static_cast<std::uint16_t>(std::strtoul(part.c_str(), nullptr, 16));
        }
        const auto net = HostOrder128ToNet(words);
        TIdBytes out(16);
        std::memcpy(out.data(), net.data(), 16);
        return out;
    }
    throw EIdIPVersionUnsupported();
}
