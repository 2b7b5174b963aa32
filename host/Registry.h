#pragma once
// Reading string values from the registry. TRegistry holds the portable rules
// (root and current key, absolute key paths, the string read with its checks);
// a TRegistryHive supplied by the platform opens keys and fetches raw values.

#include "host/Exception.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

VYK_DECLARE_EXCEPTION(ERegistryException, Exception);

// The predefined root keys, numbered as the platform's handles.
enum class TRegRootKey : std::uint32_t {
    rkCurrentUser = 0x80000001u,
    rkLocalMachine = 0x80000002u,
};

// Value types, numbered as the platform stores them.
constexpr std::uint32_t rdString = 1;       // REG_SZ
constexpr std::uint32_t rdExpandString = 2; // REG_EXPAND_SZ
constexpr std::uint32_t rdBinary = 3;       // REG_BINARY
constexpr std::uint32_t rdInteger = 4;      // REG_DWORD

// Access rights asked for when a key is opened.
constexpr std::uint32_t keyAllAccess = 0xF003F;
constexpr std::uint32_t keyWriteRights = 0x0006; // set value, create subkey

struct TRegValueInfo {
    std::uint32_t Type = 0;
    std::int64_t Size = 0; // bytes of data
};

// One open key of a hive. Released by destroying it.
class TRegistryKey {
public:
    virtual ~TRegistryKey() = default;
    // Type and size of the value, or none when it is missing or cannot be queried.
    virtual std::optional<TRegValueInfo> QueryValueInfo(const std::string& name) = 0;
    // The value's data, read into a buffer of the size that QueryValueInfo gave;
    // none when reading it fails (a value that has grown since does not fit).
    virtual std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& name,
                                                                    std::int64_t size) = 0;
};

// The platform's registry. Never raises.
class TRegistryHive {
public:
    virtual ~TRegistryHive() = default;
    // Opens root\path (path without a leading "\", names compared without case)
    // with the given access rights; none on any failure, including a missing
    // key and rights that cannot be granted.
    virtual std::unique_ptr<TRegistryKey> OpenKey(TRegRootKey root, const std::string& path,
                                                  std::uint32_t access) = 0;
};

class TRegistry {
public:
    // Root HKEY_CURRENT_USER, full access, no key open. The hive must outlive this object.
    explicit TRegistry(TRegistryHive& hive);

    TRegRootKey RootKey() const { return root_; }
    // Closes the current key.
    void SetRootKey(TRegRootKey root);
    std::uint32_t Access = keyAllAccess;

    // A path starting with "\" is absolute under the root; any other is opened
    // under the current key, or the root when none is open. Only existing keys
    // are opened (canCreate is accepted and not used). Never raises.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();
    const std::string& CurrentPath() const { return currentPath_; }

    // Missing value or no data: empty. Data that cannot be read raises
    // "Failed to get data for '%s'"; a type other than REG_SZ or REG_EXPAND_SZ
    // raises "Invalid data type for '%s'". Text up to the first NUL, not expanded.
    std::string ReadString(const std::string& name);

private:
    TRegistryHive& hive_;
    TRegRootKey root_ = TRegRootKey::rkCurrentUser;
    std::unique_ptr<TRegistryKey> current_;
    std::string currentPath_;
};
