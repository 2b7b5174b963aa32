// A Wine prefix's files that any user can edit: the registry hive text, read
// through the key look-up, and the mapping of Windows paths to the host's.

#include "fuzz/FuzzInput.h"
#include "host/linux/WinePrefix.h"
#include "host/linux/WineRegistryHive.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

// One prefix for the whole run: drive C with a few folders, and Z: as "/".
const std::string& PrefixRoot() {
    // Never destroyed, so that the clean-up at exit can still use it.
    static const std::string& root = *new std::string([] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vykfuzz.XXXXXX").string();
        const char* const folder = ::mkdtemp(pattern.data());
        vykfuzz::Require(folder != nullptr, "no temporary folder for the prefix");
        const std::string made = folder;
        std::filesystem::create_directories(made + "/drive_c/Program Files/Tavrolin/VYK");
        std::filesystem::create_directories(made + "/dosdevices");
        std::filesystem::create_directory_symlink("../drive_c", made + "/dosdevices/c:");
        std::atexit([] { std::filesystem::remove_all(PrefixRoot()); });
        return made;
    }());
    return root;
}

void Hive(vykfuzz::FuzzInput& input) {
    const std::uint8_t flags = input.Byte();
    const std::string key = input.Text();
    const std::string name = input.Text();
    const std::string text = input.Rest();
    (void)ParseWineRegistry(text);
    std::ofstream(PrefixRoot() + (flags & 1 ? "/user.reg" : "/system.reg"), std::ios::binary | std::ios::trunc)
        << text;
    TWineRegistryHive hive(PrefixRoot());
    TRegistry registry(hive);
    registry.SetRootKey(flags & 1 ? TRegRootKey::rkCurrentUser : TRegRootKey::rkLocalMachine);
    if (!registry.OpenKey(key, false)) return;
    try {
        (void)registry.ReadString(name);
    } catch (const ERegistryException&) {
    }
}

void Paths(vykfuzz::FuzzInput& input) {
    const TWinePrefix prefix(PrefixRoot());
    const std::string path = input.Rest();
    const std::string full = prefix.WindowsFullName(path);
    const std::string host = prefix.ToHostPath(path);
    if (!host.empty()) (void)prefix.ToWindowsPath(host);
    (void)prefix.ToWindowsPath(path);
    (void)full;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    if (input.Byte() & 1) Hive(input);
    else Paths(input);
    return 0;
}
