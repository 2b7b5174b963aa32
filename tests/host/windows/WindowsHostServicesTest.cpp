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

TEST_F(WindowsHostServicesTest, ReplacementNeedsTheFileFreeAndKeepsItsAttributes) {
    Write(L"Kalmin.exe", "MZ old");
    const std::wstring exe = (dir / L"Kalmin.exe").wstring();
    const auto refusal = [&] {
        try {
            host.BeginReplacement(Name(L"Kalmin.exe"));
        } catch (const EFCreateError& e) {
            return std::string(e.what());
        }
        return std::string("(nothing raised)");
    };
    const std::string named = "Cannot create file \"" + Name(L"Kalmin.exe") + "\". ";
    {
        TFileStream user(Name(L"Kalmin.exe"), fmOpenRead | fmShareExclusive);
        EXPECT_EQ(refusal().rfind(named, 0), 0u) << "a file in use must not be replaced";
        EXPECT_THROW(host.BeginReplacement(Name(L"Kalmin.exe")), EFileInUse);
    }
    // Windows refuses to write a read-only file; Wine run as root does not,
    // and then the attribute must survive the replacement.
    ASSERT_TRUE(::SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_READONLY));
    try {
        auto replacement = host.BeginReplacement(Name(L"Kalmin.exe"));
        replacement->Stream().Write("MZ read-only", 12);
        replacement->Commit();
        EXPECT_TRUE(::GetFileAttributesW(exe.c_str()) & FILE_ATTRIBUTE_READONLY);
        std::printf("note: a read-only file was replaced here, keeping the attribute\n");
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(named, 0), 0u);
        EXPECT_EQ(Contents(L"Kalmin.exe"), "MZ old");
    }
    ASSERT_TRUE(::SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_NORMAL));
    Write(L"Kalmin.exe", "MZ old");
    ASSERT_TRUE(::SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_HIDDEN));
    for (bool commit : {false, true}) {
        auto replacement = host.BeginReplacement(Name(L"Kalmin.exe"));
        replacement->Stream().Write("MZ new and longer", 17);
        EXPECT_EQ(Contents(L"Kalmin.exe"), "") << "nobody else may read the file while it is held";
        if (commit) replacement->Commit();
        replacement.reset();
        EXPECT_EQ(Contents(L"Kalmin.exe"), commit ? "MZ new and longer" : "MZ old");
        EXPECT_FALSE(fs::exists(dir / L"Kalmin.exe.part"));
        EXPECT_TRUE(::GetFileAttributesW(exe.c_str()) & FILE_ATTRIBUTE_HIDDEN) << commit;
    }
    ::SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
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
