#pragma once
// The registry of a Wine prefix, read from its text hives: system.reg for
// HKEY_LOCAL_MACHINE, user.reg for HKEY_CURRENT_USER. Each open reads the file
// afresh. Key and value names compare without case.
//
// The hive format, as far as it is read here:
//   [Software\\Tavrolin\\VYK] 1700000000      a key section (names escaped)
//   "Name"="text"                              REG_SZ
//   "Name"=str(2):"text"                       string data of type 2 (REG_EXPAND_SZ)
//   "Name"=dword:0000002a                      REG_DWORD
//   "Name"=hex:01,02,\                         REG_BINARY, continued on the next line
//   "Name"=hex(2):41,00,00,00                  raw data of the given type
//   @="text"                                   the key's default value
// Inside quotes: \\ \" \n \r \t \0, \xHHHH (a UTF-16 unit) and octal \ooo.
// Lines starting with "#" or ";" are metadata or comments.

#include "host/Registry.h"

#include <map>
#include <string>
#include <vector>

struct TWineRegValue {
    std::uint32_t Type = 0;
    // Strings (REG_SZ, REG_EXPAND_SZ, also when given as hex) as UTF-8 with a final NUL.
    std::vector<std::uint8_t> Data;
};

// Key name (lower case, "\" separated) to its values (lower-case name to value).
using TWineRegKeys = std::map<std::string, std::map<std::string, TWineRegValue>>;

// Parses a hive's text; lines it cannot read are skipped.
TWineRegKeys ParseWineRegistry(const std::string& text);

class TWineRegistryHive : public TRegistryHive {
public:
    explicit TWineRegistryHive(std::string prefixRoot);
    // Fails when the key is missing, the hive cannot be read, or write rights
    // are asked for and the hive file is not writable by this process.
    std::unique_ptr<TRegistryKey> OpenKey(TRegRootKey root, const std::string& path,
                                          std::uint32_t access) override;

private:
    std::string prefixRoot_;
};
