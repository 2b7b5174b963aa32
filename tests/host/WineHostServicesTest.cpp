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
    EXPECT_EQ(CreateErrorOf([&] { host.BeginReplacement("c:\\nodir\\..\\nodir\\Kalmin.exe"); }),
              "Cannot create file \"C:\\nodir\\Kalmin.exe\". No such file or directory");
    EXPECT_EQ(CreateErrorOf([&] { host.BeginReplacement("Q:\\Kalmin.exe"); }),
              "Cannot create file \"Q:\\Kalmin.exe\". No such file or directory");
}

TEST(TWineHostServices, ReplacementFailsForAFileInUseOrWithoutWriteAccess) {
    vyktest::TempPrefix prefix;
    const std::string exe = prefix.Write("drive_c/VYK/Kalmin.exe", "MZold");
    WineFiles host(prefix.root, "VYKPatch");
    {
        TFileStream inUse(exe, fmOpenReadWrite | fmShareExclusive);
        const std::string message =
            CreateErrorOf([&] { host.BeginReplacement("C:\\VYK\\Kalmin.exe"); });
        EXPECT_EQ(message.rfind("Cannot create file \"C:\\VYK\\Kalmin.exe\". ", 0), 0u) << message;
        EXPECT_THROW(host.BeginReplacement("C:\\VYK\\Kalmin.exe"), EFileInUse);
    }
    {
        auto first = host.BeginReplacement("C:\\VYK\\Kalmin.exe");
        first->Stream().Write("MZ", 2);
        EXPECT_THROW(host.BeginReplacement("C:\\VYK\\Kalmin.exe"), EFileInUse);
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe.part"), "MZ")
            << "the second attempt touched the first";
    }
    EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZold");

    ::chmod(exe.c_str(), 0444);
    const std::string root = prefix.root;
    EXPECT_TRUE(vyktest::AsUnprivileged([&root] {
        WineFiles unprivileged(root, "VYKPatch");
        return CreateErrorOf([&] { unprivileged.BeginReplacement("C:\\VYK\\Kalmin.exe"); }) ==
               "Cannot create file \"C:\\VYK\\Kalmin.exe\". Permission denied";
    }));
    EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZold");
}

TEST(TWineHostServices, ReplacementSwapsTheWholeFileOnlyWhenCommitted) {
    vyktest::TempPrefix prefix;
    prefix.Write("drive_c/VYK/Kalmin.exe", "MZold");
    WineFiles host(prefix.root, "VYKPatch");
    for (bool commit : {false, true}) {
        auto replacement = host.BeginReplacement("c:\\vyk\\kalmin.exe");
        replacement->Stream().Write("MZnew", 5);
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), "MZold");
        if (commit) replacement->Commit();
        replacement.reset();
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), commit ? "MZnew" : "MZold");
        EXPECT_FALSE(std::filesystem::exists(prefix.root + "/drive_c/VYK/Kalmin.exe.part"));
    }
}
