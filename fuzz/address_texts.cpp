// Address texts: IPv4 and IPv6 forms, their canonical texts, the address
// parser and the integer conversions.

#include "fuzz/FuzzInput.h"
#include "net/IdGlobal.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)IsIPv4Text(text);
    // The canonical text names the same address, and its own canonical text is
    // a fixed point (groups from an embedded IPv4 part are written padded the
    // first time, so the first text may differ from the second).
    const std::string canonical = CanonicalIPv6Text(text);
    if (!canonical.empty()) {
        const std::string again = CanonicalIPv6Text(canonical);
        vykfuzz::Require(!again.empty() && CanonicalIPv6Text(again) == again,
                         "canonical IPv6 text moves: " + text);
        const auto first = TIdIPAddress::ParseAddress(canonical);
        const auto second = TIdIPAddress::ParseAddress(again);
        vykfuzz::Require(first && second && first->IPv6Words == second->IPv6Words,
                         "canonical IPv6 text names another address: " + text);
    }
    if (const auto address = TIdIPAddress::ParseAddress(text)) {
        const TIdBytes bytes = address->NetworkBytes();
        vykfuzz::Require(bytes.size() == (address->AddressKind == Id_IPv4 ? 4u : 16u),
                         "address of the wrong length: " + text);
    }
    (void)TIdIPAddress::ParseIPv4Number(text);
    const auto n32 = TryTextToInt32(text);
    const auto n64 = TryTextToInt64(text);
    if (n32) vykfuzz::Require(n64 && *n64 == *n32, "32- and 64-bit conversions disagree: " + text);
    return 0;
}
