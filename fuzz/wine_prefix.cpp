// A Wine prefix's files that any user can edit: the registry hive text, read
// through the key look-up, and the mapping of Windows paths to the host's.

#include "fuzz/FuzzInput.h"
#include "host/linux/WinePrefix.h"
#include "host/linux/WineRegistryHive.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

// One prefix for the whole run: drive C with a few folders, and Z: a folder
// made for the run (never the host's "/", whose files are no business here).
const std::string& PrefixRoot() {
    // Never destroyed, so that the clean-up at exit can still use it.
    static const std::string& root = *new std::string([] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vykfuzz.XXXXXX").string();
        const char* const folder = ::mkdtemp(pattern.data());
        vykfuzz::Require(folder != nullptr, "no temporary folder for the prefix");
        const std::string made = folder;
        std::filesystem::create_directories(made + "/drive_c/Program Files/Tavrolin/VYK");
        std::filesystem::create_directories(made + "/zroot/Usr/Bin");
        std::filesystem::create_directories(made + "/dosdevices");
        std::filesystem::create_directory_symlink("../drive_c", made + "/dosdevices/c:");
        std::filesystem::create_directory_symlink("../zroot", made + "/dosdevices/z:");
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
    std::ofstream(PrefixRoot() + (flags & 1 ? "/user.reg" : "/system.reg"),
                  std::ios::binary | std::ios::trunc)
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

std::string LowerNoTrailingSeparator(std::string path) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
}

// A Windows path on drive C, Z or a missing Q (a NUL ends it, as it ends every
// Windows text): its full name is a fixed point, its host path stays inside
// the drive's folder, and that host path maps back to the same full name.
void Paths(vykfuzz::FuzzInput& input) {
    const TWinePrefix prefix(PrefixRoot());
    const char drive = "CZQ"[input.Byte() % 3];
    std::string path = std::string(1, drive) + ":" + input.Rest();
    path.resize(std::min(path.find('\0'), path.size()));
    const std::string full = prefix.WindowsFullName(path);
    vykfuzz::Require(prefix.WindowsFullName(full) == full, "full name moves: " + full);
    const std::string host = prefix.ToHostPath(path);
    if (drive == 'Q') {
        vykfuzz::Require(host.empty(), "a missing drive mapped: " + host);
        return;
    }
    const std::string driveFolder =
        PrefixRoot() + "/dosdevices/" + static_cast<char>(std::tolower(drive)) + ":";
    vykfuzz::Require(host.compare(0, driveFolder.size(), driveFolder) == 0,
                     "host path outside the drive: " + host);
    vykfuzz::Require(("/" + host + "/").find("/../") == std::string::npos &&
                         ("/" + host + "/").find("/./") == std::string::npos,
                     "dot segment in a host path: " + host);
    const std::string back = prefix.ToWindowsPath(host);
    vykfuzz::Require(LowerNoTrailingSeparator(back) == LowerNoTrailingSeparator(full),
                     "round trip of " + full + " gives " + back);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vykfuzz::FuzzInput input(data, size);
    if (input.Byte() & 1)
        Hive(input);
    else
        Paths(input);
    return 0;
}
