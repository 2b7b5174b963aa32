#include "host/linux/WineHostServices.h"

#include "TempPrefix.h"
#include "host/FileStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

// The user-interface operations are not under test here.
class WineFiles : public TWineHostServices {
public:
    using TWineHostServices::TWineHostServices;
    bool ExecuteOpenDialog(TOpenDialog&) override { return false; }
    int ShowMessageBox(const std::string&, const std::string&, std::uint32_t) override { return 1; }
};

std::string CreateErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EFCreateError& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

} // namespace

TEST(TWineHostServices, FileExistsIsFalseForDirectoriesAndMissingDrives) {
    vyktest::TempPrefix prefix;
    prefix.Write("drive_c/VYK/Kalmin.exe", "MZ");
    std::filesystem::create_directories(prefix.root + "/drive_c/Other/Kalmin.exe");
    WineFiles host(prefix.root, "/opt/vyk/VYKPatch");
    EXPECT_TRUE(host.FileExists("c:\\vyk\\kalmin.exe"));
    EXPECT_FALSE(host.FileExists("C:\\Other\\Kalmin.exe"));
    EXPECT_FALSE(host.FileExists("C:\\Missing\\Kalmin.exe"));
    EXPECT_FALSE(host.FileExists("Q:\\VYK\\Kalmin.exe"));
    EXPECT_EQ(host.ApplicationTitle(), "Vykpatch");
}

TEST(TWineHostServices, CreateErrorsNameTheFullWindowsPath) {
    vyktest::TempPrefix prefix;
    WineFiles host(prefix.root, "VYKPatch");
    EXPECT_EQ(CreateErrorOf([&] { host.CreateFileStream("c:\\nodir\\..\\nodir\\Kalmin.exe"); }),
              "Cannot create file \"C:\\nodir\\Kalmin.exe\". No such file or directory");
    EXPECT_EQ(CreateErrorOf([&] { host.CreateFileStream("Q:\\Kalmin.exe"); }),
              "Cannot create file \"Q:\\Kalmin.exe\". No such file or directory");
}

TEST(TWineHostServices, LockForReplaceFailsForAFileInUseOrWithoutWriteAccess) {
    vyktest::TempPrefix prefix;
    const std::string exe = prefix.Write("drive_c/VYK/Kalmin.exe", "MZold");
    WineFiles host(prefix.root, "VYKPatch");
    {
        TFileStream inUse(exe, fmOpenReadWrite | fmShareExclusive);
        const std::string message = CreateErrorOf([&] { host.LockForReplace("C:\\VYK\\Kalmin.exe"); });
        EXPECT_EQ(message.rfind("Cannot create file \"C:\\VYK\\Kalmin.exe\". ", 0), 0u) << message;
    }
    {
        auto hold = host.LockForReplace("C:\\VYK\\Kalmin.exe");
        EXPECT_THROW(host.CreateFileStream("C:\\VYK\\Kalmin.exe"), EFCreateError);
    }
    EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZold");

    ::chmod(exe.c_str(), 0444);
    const std::string root = prefix.root;
    EXPECT_TRUE(vyktest::AsUnprivileged([&root] {
        WineFiles unprivileged(root, "VYKPatch");
        return CreateErrorOf([&] { unprivileged.LockForReplace("C:\\VYK\\Kalmin.exe"); }) ==
               "Cannot create file \"C:\\VYK\\Kalmin.exe\". Permission denied";
    }));
    EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZold");
}

TEST(TWineHostServices, CommitReplacementSwapsTheWholeFileAndRemoveFileIsQuiet) {
    vyktest::TempPrefix prefix;
    prefix.Write("drive_c/VYK/Kalmin.exe", "MZold");
    prefix.Write("drive_c/VYK/Kalmin.exe.part", "MZnew");
    WineFiles host(prefix.root, "VYKPatch");
    host.CommitReplacement("C:\\VYK\\Kalmin.exe.part", "C:\\VYK\\Kalmin.exe");
    EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZnew");
    EXPECT_FALSE(std::filesystem::exists(prefix.root + "/drive_c/VYK/Kalmin.exe.part"));
    EXPECT_THROW(host.CommitReplacement("C:\\VYK\\gone", "C:\\VYK\\Kalmin.exe"), EFCreateError);
    EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZnew");
    host.RemoveFile("C:\\VYK\\gone");
    host.RemoveFile("c:\\vyk\\kalmin.exe");
    EXPECT_FALSE(host.FileExists("C:\\VYK\\Kalmin.exe"));
}
