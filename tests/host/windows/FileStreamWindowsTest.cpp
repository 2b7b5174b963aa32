#include "host/FileStream.h"

#include "host/SystemError.h"
#include "host/windows/WideText.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class FileStreamWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vykfs-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Name(const std::wstring& leaf) const { return WideToUtf8((dir / leaf).wstring()); }
    std::string Contents(const std::wstring& leaf) const {
        std::ifstream in(dir / leaf, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir;
};

} // namespace

TEST_F(FileStreamWindowsTest, CreateTruncatesAtOnceAndWritesThrough) {
    std::ofstream(dir / L"a.bin", std::ios::binary) << "old contents";
    TFileStream stream(Name(L"a.bin"), fmCreate);
    EXPECT_EQ(fs::file_size(dir / L"a.bin"), 0u);
    EXPECT_EQ(stream.Write("hello world", 11), 11);
    EXPECT_EQ(stream.Position(), 11);
    EXPECT_EQ(stream.Size(), 11);
    EXPECT_EQ(stream.Seek(-5, TSeekOrigin::soEnd), 6);
    char back[5] = {};
    EXPECT_EQ(stream.Read(back, 5), 5);
    EXPECT_EQ(std::string(back, 5), "world");
    stream.SetSize(5);
    EXPECT_EQ(stream.Position(), 5);
    EXPECT_EQ(stream.Size(), 5);
    EXPECT_EQ(stream.Read(back, 5), 0);
    EXPECT_EQ(stream.Seek(-1, TSeekOrigin::soBeginning), -1);
}

TEST_F(FileStreamWindowsTest, NamesAreUnicodeAndTheFileIsNotShared) {
    const std::wstring leaf = L"p\u0159\u00edli\u0161.exe";
    {
        TFileStream held(Name(leaf), fmCreate);
        EXPECT_TRUE(fs::exists(dir / leaf));
        try {
            TFileStream second(Name(leaf), fmCreate);
            FAIL() << "a file being written must not be opened twice";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + Name(leaf) + "\". " +
                                                 SystemErrorText(ERROR_SHARING_VIOLATION));
        }
        EXPECT_THROW(TFileStream(Name(leaf), fmOpenRead), EFOpenError);
    }
    TFileStream reopened(Name(leaf), fmOpenRead);
}

TEST_F(FileStreamWindowsTest, FailuresNameTheFullPath) {
    const fs::path saved = fs::current_path();
    fs::current_path(dir);
    try {
        TFileStream stream("missing\\x.bin", fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + Name(L"missing\\x.bin") +
                                             "\". " + SystemErrorText(ERROR_PATH_NOT_FOUND));
    }
    fs::current_path(saved);
}

TEST(SystemErrorText, IsTrimmedOfLineEndsAndFullStops) {
    const std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.');
    EXPECT_GT(static_cast<unsigned char>(text.back()), 0x20);
    EXPECT_EQ(SystemErrorText(0x2FFFFFFF), ""); // no text for it
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(LastSystemError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
}
