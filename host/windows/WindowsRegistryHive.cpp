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

    std::optional<TRegValueInfo> QueryValueInfo(const std::string& name) override {
        const auto raw = Query(name);
        if (!raw) return std::nullopt;
        return TRegValueInfo{raw->type, static_cast<std::int64_t>(raw->data.size())};
    }

    std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& name) override {
        const auto raw = Query(name);
        if (!raw) return std::nullopt;
        return raw->data;
    }

  private:
    struct RawValue {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };

    // The value as stored, strings converted from UTF-16 to UTF-8 with every
    // code unit kept (an inner NUL too, for the reader to cut at).
    std::optional<RawValue> Query(const std::string& name) {
        const std::wstring wideName = Utf8ToWide(name);
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        std::vector<std::uint8_t> bytes(size);
        if (size > 0 && ::RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, bytes.data(),
                                           &size) != ERROR_SUCCESS)
            return std::nullopt;
        bytes.resize(size);
        if (type != REG_SZ && type != REG_EXPAND_SZ) return RawValue{type, std::move(bytes)};
        std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
        if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
        const std::string utf8 = WideToUtf8(text);
        return RawValue{type, std::vector<std::uint8_t>(utf8.begin(), utf8.end())};
    }

    HKEY key_;
};

} // namespace

std::unique_ptr<TRegistryKey>
TWindowsRegistryHive::OpenKey(TRegRootKey root, const std::string& path, std::uint32_t access) {
    HKEY key = nullptr;
    // The predefined handles are 32-bit values sign-extended to the pointer size.
    const HKEY rootKey = reinterpret_cast<HKEY>(
        static_cast<LONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(root))));
    if (::RegOpenKeyExW(rootKey, Utf8ToWide(path).c_str(), 0, access, &key) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<TWindowsRegistryKey>(key);
}
