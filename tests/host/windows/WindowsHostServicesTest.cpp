#include "host/windows/WindowsHostServices.h"

#include "host/FileStream.h"
#include "host/windows/WideText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class WindowsHostServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vykhost-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Name(const std::wstring& leaf) const { return WideToUtf8((dir / leaf).wstring()); }
    void Write(const std::wstring& leaf, const std::string& bytes) {
        std::ofstream(dir / leaf, std::ios::binary) << bytes;
    }
    std::string Contents(const std::wstring& leaf) const {
        std::ifstream in(dir / leaf, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TWindowsHostServices host;
    fs::path dir;
};

} // namespace

TEST_F(WindowsHostServicesTest, OnlyFilesExist) {
    Write(L"Kalmin.exe", "MZ");
    fs::create_directories(dir / L"folder.exe");
    EXPECT_TRUE(host.FileExists(Name(L"Kalmin.exe")));
    EXPECT_FALSE(host.FileExists(Name(L"folder.exe")));
    EXPECT_FALSE(host.FileExists(Name(L"none.exe")));
    EXPECT_FALSE(host.FileExists("Q:\\no\\such\\drive.exe"));
}

TEST_F(WindowsHostServicesTest, ReplacementNeedsTheFileFreeAndSwapsItWhole) {
    Write(L"Kalmin.exe", "MZ old");
    Write(L"Kalmin.exe.part", "MZ new and longer");
    {
        TFileStream user(Name(L"Kalmin.exe"), fmOpenRead | fmShareExclusive);
        try {
            host.LockForReplace(Name(L"Kalmin.exe"));
            FAIL() << "a file in use must not be replaced";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "Cannot create file \"" + Name(L"Kalmin.exe") + "\". ", 0),
                      0u);
        }
    }
    auto hold = host.LockForReplace(Name(L"Kalmin.exe"));
    EXPECT_EQ(Contents(L"Kalmin.exe"), "") << "nobody else may read the file while it is held";
    hold.reset();
    EXPECT_EQ(Contents(L"Kalmin.exe"), "MZ old"); // held, not changed
    host.CommitReplacement(Name(L"Kalmin.exe.part"), Name(L"Kalmin.exe"));
    EXPECT_EQ(Contents(L"Kalmin.exe"), "MZ new and longer");
    EXPECT_FALSE(fs::exists(dir / L"Kalmin.exe.part"));

    // Nothing to move: the target is named and stays as it was.
    try {
        host.CommitReplacement(Name(L"gone.part"), Name(L"Kalmin.exe"));
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find(Name(L"Kalmin.exe")), std::string::npos);
    }
    EXPECT_EQ(Contents(L"Kalmin.exe"), "MZ new and longer");
    host.RemoveFile(Name(L"Kalmin.exe"));
    host.RemoveFile(Name(L"Kalmin.exe")); // a second removal is ignored
    EXPECT_FALSE(fs::exists(dir / L"Kalmin.exe"));
}

TEST(WindowsDialog, FilterAndPlacement) {
    EXPECT_EQ(DialogFilter("soubor *.ini|*.ini"), std::wstring(L"soubor *.ini\0*.ini\0\0", 20));
    const POINT at = DialogPlacement(RECT{0, 0, 1024, 768}, 424, 300);
    EXPECT_EQ(at.x, 300);
    EXPECT_EQ(at.y, 156); // (768 - 300) / 3
    const POINT second = DialogPlacement(RECT{1024, 0, 2048, 768}, 424, 300);
    EXPECT_EQ(second.x, 1324);
}

TEST(WindowsHostServices, TitleComesFromTheProgramFile) {
    TWindowsHostServices host;
    EXPECT_EQ(host.ApplicationTitle(), "host_tests"); // the first letter keeps its case
}
