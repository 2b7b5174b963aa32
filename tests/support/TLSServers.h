#pragma once
// The TLS servers that tests/support/tls-servers started for this run (ctest
// starts them as a fixture): their ports and the folder of the certificates.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace vyktest {

struct TLSServers {
    std::string certs; // a path of this platform's (Z: under Wine)
    std::map<std::string, int> ports;

    // Empty when the fixture did not run; a test then fails saying so.
    static const TLSServers& Get() {
        static const TLSServers servers = Read();
        return servers;
    }
    bool Running() const { return !ports.empty(); }
    std::string Url(const std::string& name, const std::string& path = "/instal/Kalmin.exe",
                    const std::string& host = "127.0.0.1",
                    const std::string& scheme = "https") const {
        return scheme + "://" + host + ":" + std::to_string(ports.at(name)) + path;
    }
    // "127.0.0.1:PORT" of the server name, as a proxy setting names it.
    std::string Address(const std::string& name) const {
        return "127.0.0.1:" + std::to_string(ports.at(name));
    }
    std::string CA() const { return certs + "/ca.pem"; }
    // The folder the servers write their logs to.
    std::string Work() const { return certs.substr(0, certs.rfind('/')); }
    // What the server name has logged so far (the proxies log each request).
    std::string Log(const std::string& name) const {
        std::ifstream in(Work() + "/" + name + ".log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The signed test programs, served by each server under /signed/.
    std::string Signed(const std::string& file = {}) const {
        return Work() + "/www/signed/" + file;
    }

private:
    static TLSServers Read() {
        TLSServers servers;
        std::ifstream in(VYK_TLS_SERVERS);
        std::string name, value;
        while (in >> name >> value) {
            if (name == "certs")
                servers.certs = (VYK_HOST_PATH_PREFIX) + value;
            else
                servers.ports[name] = std::stoi(value);
        }
        return servers;
    }
};

#define VYK_REQUIRE_TLS_SERVERS()                                                                  \
    ASSERT_TRUE(::vyktest::TLSServers::Get().Running())                                            \
        << "no TLS servers: ctest starts them (tests/support/tls-servers start), "                 \
           "reading " VYK_TLS_SERVERS

} // namespace vyktest
