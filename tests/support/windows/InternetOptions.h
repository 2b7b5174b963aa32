#pragma once
// The current user's Internet options (the system's proxy settings) set in
// the Wine prefix for as long as the object lives, written as the Internet
// options dialog writes them: the binary connection record that WinHTTP
// reads, and the named values beside it. The test programs that use it hold
// the ctest resource lock wine_internet_options.

#include "host/windows/WideText.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyktest {

class InternetOptions {
public:
    struct Settings {
        std::string proxy;     // "host:port" or "http=...;https=..."; empty: none
        std::string bypass;    // ';'-separated
        std::string scriptUrl; // the setup script's URL; empty: none
    };

    explicit InternetOptions(const Settings& settings) { Write(settings); }
    ~InternetOptions() {
        try {
            Write({});
        } catch (const std::exception&) { // the next test's own settings replace these
        }
    }
    InternetOptions(const InternetOptions&) = delete;
    InternetOptions& operator=(const InternetOptions&) = delete;

private:
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

    static void Append(std::vector<std::uint8_t>& record, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) record.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    static void Append(std::vector<std::uint8_t>& record, const std::string& text) {
        Append(record, static_cast<std::uint32_t>(text.size()));
        record.insert(record.end(), text.begin(), text.end());
    }

    // Flags of the record: 1 direct, 2 fixed proxy, 4 setup script, 8 detect
    // automatically (left off: detection would only fail, and slowly on Windows).
    static std::vector<std::uint8_t> Record(const Settings& s) {
        std::vector<std::uint8_t> record;
        Append(record, std::uint32_t{0x46});
        Append(record, std::uint32_t{++counter_});
        Append(record,
               std::uint32_t{1u | (s.proxy.empty() ? 0u : 2u) | (s.scriptUrl.empty() ? 0u : 4u)});
        Append(record, s.proxy);
        Append(record, s.bypass);
        Append(record, s.scriptUrl);
        record.resize(record.size() + 32, 0); // the last detection's results: none
        return record;
    }

    static void SetText(HKEY key, const wchar_t* name, const std::string& value) {
        if (value.empty()) {
            ::RegDeleteValueW(key, name);
            return;
        }
        const std::wstring wide = Utf8ToWide(value);
        ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                         static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }

    static void Write(const Settings& s) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("the Internet options cannot be written");
        const DWORD enable = s.proxy.empty() ? 0 : 1;
        ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                         sizeof enable);
        SetText(key, L"ProxyServer", s.proxy);
        SetText(key, L"ProxyOverride", s.bypass);
        SetText(key, L"AutoConfigURL", s.scriptUrl);
        HKEY connections = nullptr;
        if (::RegCreateKeyExW(key, L"Connections", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &connections, nullptr) == ERROR_SUCCESS) {
            const std::vector<std::uint8_t> record = Record(s);
            ::RegSetValueExW(connections, L"DefaultConnectionSettings", 0, REG_BINARY,
                             record.data(), static_cast<DWORD>(record.size()));
            ::RegCloseKey(connections);
        }
        ::RegCloseKey(key);
    }

    static inline std::uint32_t counter_ = 0;
};

} // namespace vyktest
