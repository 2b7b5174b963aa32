#pragma once
// The platform's concrete socket stack, for tests that derive from it.

#include "net/windows/IdStackWindows.h"

using TIdPlatformStack = TIdStackWindows;

namespace vyktest {

// Windows resolves names under ".invalid" as unknown by itself; nothing to replace.
class InvalidNamesUnknown {
public:
    InvalidNamesUnknown() {}
    ~InvalidNamesUnknown() {}
};

} // namespace vyktest
