#include "tools/VykgetTrace.h"

#include "host/Certificate.h"
#include "net/IdGlobal.h"

#include <ctime>

namespace {

std::string Masked(const std::string& line) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) return line;
    const std::string name = Trim(line.substr(0, colon));
    if (!TextIsSame(name, "Authorization") && !TextIsSame(name, "Proxy-Authorization")) return line;
    const std::string value = Trim(line.substr(colon + 1));
    return line.substr(0, colon + 1) + " " + value.substr(0, value.find(' ')) + " ***";
}

} // namespace

std::string TraceRequestHead(const std::string& bytes) {
    // A request line holds a space and ends in the protocol version.
    const auto firstEnd = bytes.find("\r\n");
    if (firstEnd == std::string::npos || bytes.rfind(" HTTP/1.", firstEnd) == std::string::npos)
        return {};
    std::string out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto end = bytes.find("\r\n", at);
        const std::string line =
            bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
        out += line.empty() ? ">\n" : "> " + Masked(line) + "\n";
        if (line.empty() || end == std::string::npos) break;
        at = end + 2;
    }
    return out;
}

std::string TraceResponseHead(const std::string& statusLine, const TIdHeaderList& headerLines) {
    std::string out = "< " + statusLine + "\n";
    for (int i = 0; i < headerLines.Count(); ++i) out += "< " + headerLines[i] + "\n";
    return out + "<\n";
}

std::string TraceConnect(const std::string& address, int port) {
    return "* connected to " + address + " port " + std::to_string(port) + "\n";
}

std::string TraceProxy(const TIdProxyChoice& proxy) {
    const std::string from = " (from " + proxy.Source + ")\n";
    if (proxy.Direct()) return "* no proxy" + from;
    return "* proxy " + proxy.Host + " port " + std::to_string(proxy.Port) + from;
}

std::string TraceTLS(const TIdTLSInfo& info) {
    return "* TLS connection using " + info.Version + " / " + info.Cipher +
           "\n* server certificate:\n*  subject: " + info.Subject + "\n*  issuer: " + info.Issuer +
           "\n";
}

std::string TraceSignature(const TProgramSignature& signature) {
    if (signature.State == TSignatureState::ssNone)
        return "* no signature (" + signature.Why + ")\n";
    if (!signature.Valid()) return "* signature not valid: " + signature.Why + "\n";
    const TCertificateFacts signer = ReadCertificate(signature.Signer);
    std::string timestamp = "none";
    if (signature.Timestamp) {
        const std::time_t time = static_cast<std::time_t>(*signature.Timestamp);
        char text[32] = "?";
        if (const std::tm* utc = std::gmtime(&time))
            std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc);
        timestamp = text;
    }
    return "* signed by: " + NameText(signer.Subject) + "\n*  issuer: " + NameText(signer.Issuer) +
           "\n*  key sha256: " + PublicKeyPin(signer) + "\n*  timestamp: " + timestamp + "\n";
}
