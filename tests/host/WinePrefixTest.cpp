#include "host/linux/WinePrefix.h"

#include "TempPrefix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// Runs in a directory and returns to the previous one at the end of scope.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InDirectory() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

} // namespace

TEST(TWinePrefix, MapsWindowsPathsThroughDriveLinksMatchingCaseAsWindowsDoes) {
    vyktest::TempPrefix prefix;
    const std::string exe = prefix.Write("drive_c/Program Files/Tavrolin/VYK/Kalmin.exe", "MZ");
    const std::string drive = prefix.root + "/dosdevices/c:";
    TWinePrefix wine(prefix.root);

    EXPECT_EQ(wine.ToHostPath("c:\\program files\\tavrolin\\vyk\\Kalmin.exe"),
              drive + "/Program Files/Tavrolin/VYK/Kalmin.exe");
    EXPECT_EQ(wine.ToHostPath("C:/PROGRAM FILES\\\\Tavrolin\\VYK\\KALMIN.EXE"),
              drive + "/Program Files/Tavrolin/VYK/Kalmin.exe");
    // Missing parts keep their spelling; nothing after them is looked up.
    EXPECT_EQ(wine.ToHostPath("C:\\program files\\New\\x.ini"), drive + "/Program Files/New/x.ini");
    EXPECT_EQ(wine.ToHostPath("C:\\"), drive);
    EXPECT_EQ(wine.ToHostPath("C:\\a\\..\\Program Files\\.\\tavrolin\\"),
              drive + "/Program Files/Tavrolin/");
    // z: is the host's root when it has no link; a drive without a link is missing.
    EXPECT_EQ(wine.ToHostPath("Z:\\etc\\hostname"), "/etc/hostname");
    EXPECT_EQ(wine.ToHostPath("D:\\Kalmin.exe"), "");
    EXPECT_TRUE(
        std::filesystem::exists(wine.ToHostPath("c:\\program files\\tavrolin\\vyk\\kalmin.exe")));
    (void)exe;
}

TEST(TWinePrefix, PathsWithoutADriveAreOnTheCurrentDirectorysDrive) {
    vyktest::TempPrefix prefix;
    prefix.Write("drive_c/Work/Kalmin.exe", "MZ");
    prefix.Write("drive_c/Kalmin.exe", "MZ");
    TWinePrefix wine(prefix.root);
    InDirectory here(prefix.root + "/drive_c/Work");
    EXPECT_EQ(wine.WindowsFullName("\\Kalmin.exe"), "C:\\Kalmin.exe");
    EXPECT_EQ(wine.WindowsFullName("Kalmin.exe"), "C:\\Work\\Kalmin.exe");
    EXPECT_EQ(wine.WindowsFullName("C:Kalmin.exe"), "C:\\Work\\Kalmin.exe");
    EXPECT_EQ(wine.WindowsFullName("d:x"), "D:\\x");
    EXPECT_EQ(wine.WindowsFullName("..\\..\\..\\x"), "C:\\x");
    EXPECT_EQ(wine.ToHostPath("\\kalmin.exe"), prefix.root + "/dosdevices/c:/Kalmin.exe");
}

TEST(TWinePrefix, HostPathsTurnBackIntoWindowsPathsByTheLongestDriveTarget) {
    vyktest::TempPrefix prefix;
    prefix.Write("drive_c/VYK/tesmir.ini", "");
    TWinePrefix wine(prefix.root);
    EXPECT_EQ(wine.ToWindowsPath(prefix.root + "/drive_c/VYK/tesmir.ini"), "C:\\VYK\\tesmir.ini");
    // Through the drive link itself, and for a name that does not exist yet.
    EXPECT_EQ(wine.ToWindowsPath(prefix.root + "/dosdevices/c:/VYK/new.ini"), "C:\\VYK\\new.ini");
    EXPECT_EQ(wine.ToWindowsPath(prefix.root + "/drive_c"), "C:\\");
    EXPECT_EQ(wine.ToWindowsPath("/etc/hostname"), "Z:\\etc\\hostname");
    // z: linked to "/" covers everything, but c: is the longer match inside drive_c.
    std::filesystem::create_directory_symlink("/", prefix.root + "/dosdevices/z:");
    EXPECT_EQ(wine.ToWindowsPath(prefix.root + "/drive_c/VYK"), "C:\\VYK");
    EXPECT_EQ(wine.ToWindowsPath("/etc"), "Z:\\etc");
    // A sibling whose name merely starts like the drive's target is not on it.
    prefix.Write("drive_cx/f", "");
    EXPECT_EQ(wine.ToWindowsPath(prefix.root + "/drive_cx/f").substr(0, 3), "Z:\\");
}

TEST(TWinePrefix, DefaultRootIsWinePrefixElseDotWineInHome) {
    const char* saved = std::getenv("WINEPREFIX");
    const std::string keep = saved ? saved : "";
    ::setenv("WINEPREFIX", "/srv/prefix", 1);
    EXPECT_EQ(TWinePrefix::DefaultRoot(), "/srv/prefix");
    ::unsetenv("WINEPREFIX");
    EXPECT_EQ(TWinePrefix::DefaultRoot(), std::string(std::getenv("HOME")) + "/.wine");
    if (saved) ::setenv("WINEPREFIX", keep.c_str(), 1);
}
