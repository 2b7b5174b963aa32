#include "host/windows/WindowsRegistryHive.h"

#include "host/windows/WideText.h"

#include <windows.h>

#include <cstring>

namespace {

class TWindowsRegistryKey : public TRegistryKey {
public:
    explicit TWindowsRegistryKey(HKEY key) : key_(key) {}
    ~TWindowsRegistryKey() override { ::RegCloseKey(key_); }
    TWindowsRegistryKey(const TWindowsRegistryKey&) = delete;
    TWindowsRegistryKey& operator=(const TWindowsRegistryKey&) = delete;

    // Type and stored size only, without the data.
    std::optional<TRegValueInfo> QueryValueInfo(const std::string& name) override {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key_, Utf8ToWide(name).c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        return TRegValueInfo{type, static_cast<std::int64_t>(size)};
    }

    // The data in a buffer of the stored size; strings converted from UTF-16 to
    // UTF-8 with every code unit kept (an inner NUL too, for the reader to cut at).
    std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& name,
                                                            std::int64_t size) override {
        if (size < 0 || size > MAXDWORD) return std::nullopt;
        DWORD type = 0;
        DWORD got = static_cast<DWORD>(size);
        std::vector<std::uint8_t> bytes(got);
        if (::RegQueryValueExW(key_, Utf8ToWide(name).c_str(), nullptr, &type, bytes.data(),
                               &got) != ERROR_SUCCESS)
            return std::nullopt;
        bytes.resize(got);
        if (type != REG_SZ && type != REG_EXPAND_SZ) return bytes;
        std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
        if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
        const std::string utf8 = WideToUtf8(text);
        return std::vector<std::uint8_t>(utf8.begin(), utf8.end());
    }

private:
    HKEY key_;
};

} // namespace

std::unique_ptr<TRegistryKey>
TWindowsRegistryHive::OpenKey(TRegRootKey root, const std::string& path, std::uint32_t access) {
    HKEY key = nullptr;
    // The predefined handles are 32-bit values sign-extended to the pointer size.
    const HKEY rootKey = reinterpret_cast<HKEY>(
        static_cast<LONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(root))));
    // VYK's installer is a 32-bit program, so its keys live in the 32-bit view
    // (SOFTWARE\WOW6432Node on 64-bit Windows). That is the view the updater reads
    // whatever its own bitness; 32-bit Windows has only the one view.
    if (::RegOpenKeyExW(rootKey, Utf8ToWide(path).c_str(), 0, access | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<TWindowsRegistryKey>(key);
}
