#include "fuzz/RequestCheck.h"

#include "fuzz/FuzzInput.h"

#include <cctype>
#include <vector>

namespace vykfuzz {
namespace {

bool IsTokenChar(unsigned char c) {
    return std::isalnum(c) ||
           (c != 0 &&
            std::string("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string::npos);
}

bool IsToken(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (!IsTokenChar(c)) return false;
    return true;
}

// Visible bytes, blanks and tabs (and bytes above 127): what a field value holds.
bool IsFieldText(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimBlanks(const std::string& text) {
    const auto b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

// "host" or "host:port" as a Host header names the connection's peer; IPv6 in brackets.
std::string Authority(const std::string& host, int port) {
    const std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return port == 80 ? name : name + ":" + std::to_string(port);
}

} // namespace

void CheckRequest(const vyktest::MemoryIOHandler::Request& request,
                  const RequestExpectation& expected) {
    const std::string& bytes = request.bytes;
    const auto headEnd = bytes.find("\r\n\r\n");
    Require(headEnd != std::string::npos, "request without an end of head: " + bytes);
    const std::string head = bytes.substr(0, headEnd + 2);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < head.size();) {
        const auto end = head.find("\r\n", at);
        lines.push_back(head.substr(at, end - at));
        at = end + 2;
    }
    for (const auto& line : lines)
        Require(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
                "bare CR, LF or NUL in a request line: " + line);

    // Request line.
    const std::string& first = lines.front();
    const auto sp1 = first.find(' ');
    const auto sp2 = first.rfind(' ');
    Require(sp1 != std::string::npos && sp2 > sp1, "request line without three parts: " + first);
    const std::string method = first.substr(0, sp1);
    const std::string target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string version = first.substr(sp2 + 1);
    Require(IsToken(method), "request method not a token: " + first);
    Require(version == "HTTP/1.1" || version == "HTTP/1.0", "request version: " + first);
    Require(!target.empty(), "empty request target: " + first);
    for (unsigned char c : target)
        Require(c > 0x20 && c != 0x7F, "blank or control byte in the target: " + first);
    Require(target.find('#') == std::string::npos, "fragment sent in the target: " + first);
    if (!expected.target.empty())
        Require(target == expected.target, "target " + target + " instead of " + expected.target);

    // Header lines.
    std::vector<std::string> hosts;
    bool length = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        Require(!line.empty() && line[0] != ' ' && line[0] != '\t',
                "folded or empty header line: " + line);
        const auto colon = line.find(':');
        Require(colon != std::string::npos && IsToken(line.substr(0, colon)),
                "header line without a name: " + line);
        const std::string name = Lower(line.substr(0, colon));
        const std::string value = TrimBlanks(line.substr(colon + 1));
        Require(IsFieldText(value), "control byte in a header value: " + line);
        if (name == "host") hosts.push_back(value);
        if (name == "content-length") length = true;
    }
    Require(hosts.size() == 1, "not exactly one Host header");
    Require(!length || method != "GET", "a GET with a body length");
    Require(bytes.size() == headEnd + 4 || length,
            "bytes after the head of a request without a length");

    // Where it goes: the connection's peer, or through a proxy the target's authority.
    if (expected.viaProxy) {
        const std::string prefix = "http://" + hosts[0];
        Require(target.compare(0, prefix.size(), prefix) == 0 &&
                    (target.size() == prefix.size() || target[prefix.size()] == '/' ||
                     target[prefix.size()] == '?'),
                "proxy target " + target + " for Host " + hosts[0]);
    } else {
        Require(target[0] == '/' || (method == "OPTIONS" && target == "*"),
                "target not a path: " + first);
        Require(Lower(hosts[0]) == Lower(Authority(request.host, request.port)),
                "Host " + hosts[0] + " on a connection to " +
                    Authority(request.host, request.port));
    }
}

} // namespace vykfuzz
