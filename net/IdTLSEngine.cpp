#include "net/IdTLSEngine.h"

std::string CertificateRejected(const std::string& host, const std::string& check) {
    return "The certificate of " + host + " was not accepted: " + check + ".";
}

std::string HandshakeFailed(const std::string& host, const std::string& reason) {
    return "TLS handshake with " + host + " failed: " + reason + ".";
}
