#include "host/windows/WindowsRegistryHive.h"

#include "host/windows/WideText.h"

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
    try {
        Read("Number");
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Number'");
    }
}

TEST_F(WindowsRegistryTest, PredefinedRootsAndMissingKeys) {
    // The root handles are sign-extended 32-bit values; a zero-extended one opens nothing.
    EXPECT_NE(hive.OpenKey(TRegRootKey::rkLocalMachine, "Software", KEY_READ), nullptr);
    EXPECT_NE(hive.OpenKey(TRegRootKey::rkCurrentUser, path, keyAllAccess), nullptr);
    EXPECT_EQ(hive.OpenKey(TRegRootKey::rkCurrentUser, path + "\\Nothing", keyAllAccess), nullptr);
}
