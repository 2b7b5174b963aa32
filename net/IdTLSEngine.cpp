#include "net/IdTLSEngine.h"

#include "net/IdExceptionCore.h"

#include <algorithm>

TIdBytes TLSAddressOf(const std::string& host) {
    if (!CanonicalIPv6Text(host).empty()) return TIdIPAddress::ParseAddress(host)->NetworkBytes();
    if (!IsIPv4Text(host)) return {};
    // Four parts of 0 to 255 in plain decimal, no leading zero: nothing else.
    TIdBytes address;
    std::size_t at = 0;
    while (address.size() < 4 && at <= host.size()) {
        const std::size_t dot = std::min(host.find('.', at), host.size());
        const std::string part = host.substr(at, dot - at);
        const bool plain = !part.empty() && part.size() <= 3 &&
                           part.find_first_not_of("0123456789") == std::string::npos &&
                           (part.size() == 1 || part[0] != '0') && std::stoi(part) <= 255;
        if (!plain) break;
        address.push_back(static_cast<std::uint8_t>(std::stoi(part)));
        at = dot + 1;
    }
    if (address.size() != 4 || at != host.size() + 1)
        throw EIdTLSError(
            HandshakeFailed(host, "an IPv4 address must be written as four decimal numbers"));
    return address;
}

std::string TLSServerName(const std::string& host) {
    return !host.empty() && host.back() == '.' ? host.substr(0, host.size() - 1) : host;
}

TIdTLSPeer TLSPeerOf(const std::string& serverName) {
    TIdTLSPeer peer;
    peer.Address = TLSAddressOf(serverName);
    if (peer.Address.empty()) peer.HostName = serverName;
    return peer;
}

std::string CertificateRejected(const std::string& host, const std::string& check) {
    return "The certificate of " + host + " was not accepted: " + check + ".";
}

std::string HandshakeFailed(const std::string& host, const std::string& reason) {
    return "TLS handshake with " + host + " failed: " + reason + ".";
}
