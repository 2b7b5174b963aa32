#pragma once
// The registry of the running Windows system as a 32-bit program sees it, through
// the wide registry API.
// String values are handed out as UTF-8, like every other text of the program.

#include "host/Registry.h"

class TWindowsRegistryHive : public TRegistryHive {
public:
    std::unique_ptr<TRegistryKey> OpenKey(TRegRootKey root, const std::string& path,
                                          std::uint32_t access) override;
};
