#include "host/windows/WindowsRegistryHive.h"

#include "host/windows/WideText.h"
#include "tests/support/Raised.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A key of its own under HKEY_CURRENT_USER, removed again afterwards.
class WindowsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = "Software\\VYKTest-" + std::to_string(::GetCurrentProcessId());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(path).c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        ::RegCloseKey(key);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, Utf8ToWide(path).c_str());
    }

    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    void SetText(const wchar_t* name, DWORD type, const std::wstring& text) {
        SetRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    std::string Read(const std::string& name) {
        TRegistry registry(hive);
        EXPECT_TRUE(registry.OpenKey("\\" + path, false));
        return registry.ReadString(name);
    }

    TWindowsRegistryHive hive;
    std::string path;
    HKEY key = nullptr;
};

} // namespace

TEST_F(WindowsRegistryTest, StringsArriveAsUtf8AndAsStored) {
    SetText(L"Czech", REG_SZ, L"C:\\Program Files\\Tavrolin\\VYK \u0159\u00ed\u0161");
    EXPECT_EQ(Read("Czech"), "C:\\Program Files\\Tavrolin\\VYK \xC5\x99\xC3\xAD\xC5\xA1");
    const wchar_t inner[] = L"first\0second";
    SetRaw(L"Inner", REG_SZ, inner, sizeof inner);
    EXPECT_EQ(Read("Inner"), "first");
    SetText(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\vyk");
    EXPECT_EQ(Read("Expand"), "%SystemRoot%\\vyk");
    EXPECT_EQ(Read("Missing"), "");
}

TEST_F(WindowsRegistryTest, NumbersAreNoStrings) {
    const DWORD number = 7;
    SetRaw(L"Number", REG_DWORD, &number, sizeof number);
    EXPECT_STREQ(vyktest::Raised<ERegistryException>([&] { Read("Number"); }).what(),
                 "Invalid data type for 'Number'");
}

TEST_F(WindowsRegistryTest, PredefinedRootsAndMissingKeys) {
    // The root handles are sign-extended 32-bit values; a zero-extended one opens nothing.
    EXPECT_NE(hive.OpenKey(TRegRootKey::rkLocalMachine, "Software", KEY_READ), nullptr);
    EXPECT_NE(hive.OpenKey(TRegRootKey::rkCurrentUser, path, keyAllAccess), nullptr);
    EXPECT_EQ(hive.OpenKey(TRegRootKey::rkCurrentUser, path + "\\Nothing", keyAllAccess), nullptr);
}

TEST_F(WindowsRegistryTest, TheDataIsReadInAQueryOfItsOwn) {
    SetText(L"Path", REG_SZ, L"C:\\VYK");
    const auto opened = hive.OpenKey(TRegRootKey::rkCurrentUser, path, keyAllAccess);
    ASSERT_NE(opened, nullptr);
    const auto info = opened->QueryValueInfo("Path");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Type, rdString);
    EXPECT_EQ(info->Size, 14); // as stored: UTF-16 with its NUL
    // A value that grew after its size was asked for no longer fits: that read fails.
    SetText(L"Path", REG_SZ, L"C:\\Program Files\\VYK");
    EXPECT_FALSE(opened->QueryValueData("Path", info->Size));
    EXPECT_TRUE(opened->QueryValueData("Path", 42));
}

TEST(WindowsRegistryViews, HklmSoftwareIsReadInThe32BitView) {
    // A 32-bit installer writes below SOFTWARE\WOW6432Node on 64-bit Windows.
    const std::wstring suffix = std::to_wstring(::GetCurrentProcessId());
    const std::wstring in32 = L"SOFTWARE\\VYKView32-" + suffix;
    const std::wstring in64 = L"SOFTWARE\\VYKView64-" + suffix;
    for (const auto& [name, view] :
         {std::pair{in32, KEY_WOW64_32KEY}, std::pair{in64, KEY_WOW64_64KEY}}) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring text = L"C:\\VYK";
        ::RegSetValueExW(key, L"InstallPath", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    TWindowsRegistryHive hive;
    TRegistry registry(hive);
    registry.SetRootKey(TRegRootKey::rkLocalMachine);
    EXPECT_TRUE(registry.OpenKey("\\" + WideToUtf8(in32), false));
    EXPECT_EQ(registry.ReadString("InstallPath"), "C:\\VYK");
    EXPECT_FALSE(registry.OpenKey("\\" + WideToUtf8(in64), false));
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, in32.c_str(), KEY_WOW64_32KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, in64.c_str(), KEY_WOW64_64KEY, 0);
}
