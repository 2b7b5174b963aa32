#pragma once
// The platform's concrete socket stack, for tests that derive from it.

#include "net/posix/IdStackPosix.h"

#include <string>

using TIdPlatformStack = TIdStackPosix;

#include <netdb.h>

namespace vyktest {

// While alive, names under ".invalid" are unknown to the stack's look-up and
// the rest go to getaddrinfo, so no test waits on or depends on a resolver;
// with tryAgain the look-up answers "try again" for them instead.
class InvalidNamesUnknown {
public:
    explicit InvalidNamesUnknown(bool tryAgain = false) : saved_(TIdStackPosix::LookUp) {
        tryAgain_ = tryAgain;
        TIdStackPosix::LookUp = [](const char* host, const char* service, const addrinfo* hints,
                                   addrinfo** result) {
            const std::string name = host ? host : "";
            if (name.size() >= 8 && name.compare(name.size() - 8, 8, ".invalid") == 0)
                return tryAgain_ ? EAI_AGAIN : EAI_NONAME;
            return ::getaddrinfo(host, service, hints, result);
        };
    }
    ~InvalidNamesUnknown() { TIdStackPosix::LookUp = saved_; }
    InvalidNamesUnknown(const InvalidNamesUnknown&) = delete;
    InvalidNamesUnknown& operator=(const InvalidNamesUnknown&) = delete;

private:
    TIdStackPosix::TLookUp saved_;
    static inline bool tryAgain_ = false;
};

} // namespace vyktest
