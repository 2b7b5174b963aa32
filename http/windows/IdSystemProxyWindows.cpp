// The user's Internet options, read through WinHTTP; automatic detection and
// the setup script are run by WinHTTP too.

#include "http/IdProxySettings.h"

#include "host/windows/WideText.h"

#include <windows.h>

#include <winhttp.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

// The texts WinHTTP hands over in GlobalAlloc'ed memory, freed with the holder.
struct TGlobalTexts {
    std::vector<LPWSTR*> held;
    ~TGlobalTexts() {
        for (LPWSTR* text : held)
            if (*text != nullptr) ::GlobalFree(*text);
    }
};

std::string Narrow(LPCWSTR text) {
    return text ? WideToUtf8(text) : std::string();
}

struct TInternetHandleClose {
    void operator()(HINTERNET handle) const { ::WinHttpCloseHandle(handle); }
};
using TInternetHandle = std::unique_ptr<void, TInternetHandleClose>;

// Each step of fetching a script (resolve, connect, send, receive) is bound;
// running it and WPAD's search of the network are WinHTTP's own.
constexpr int kScriptTimeout = 10000;

// What detection (scriptUrl empty) or the script says for url. A script
// behind a proxy that asks who we are is tried again with the user's logon.
std::optional<std::string> AskSetupScript(HINTERNET session, const std::string& url,
                                          const std::string& scriptUrl) {
    const std::wstring target = Utf8ToWide(url);
    const std::wstring script = Utf8ToWide(scriptUrl);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (scriptUrl.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = script.c_str();
    }
    WINHTTP_PROXY_INFO info{};
    TGlobalTexts texts{{&info.lpszProxy, &info.lpszProxyBypass}};
    BOOL answered = ::WinHttpGetProxyForUrl(session, target.c_str(), &options, &info);
    if (!answered && ::GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        answered = ::WinHttpGetProxyForUrl(session, target.c_str(), &options, &info);
    }
    if (!answered) return std::nullopt;
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return std::string();
    return Narrow(info.lpszProxy);
}

TIdProxyChoice InternetOptionsProxyFor(const std::string& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    TGlobalTexts texts{{&config.lpszAutoConfigUrl, &config.lpszProxy, &config.lpszProxyBypass}};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
    TIdInternetOptions options;
    options.AutoDetect = config.fAutoDetect != FALSE;
    options.AutoConfigUrl = Narrow(config.lpszAutoConfigUrl);
    options.Proxy = Narrow(config.lpszProxy);
    options.Bypass = Narrow(config.lpszProxyBypass);
    TInternetHandle session;
    return ChooseFromInternetOptions(
        options, url,
        [&](const std::string& scriptUrl, const std::string& shown) -> std::optional<std::string> {
            if (!session) {
                session.reset(::WinHttpOpen(L"VYKPatch", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
                if (!session) return std::nullopt;
                ::WinHttpSetTimeouts(session.get(), kScriptTimeout, kScriptTimeout, kScriptTimeout,
                                     kScriptTimeout);
            }
            return AskSetupScript(session.get(), shown, scriptUrl);
        });
}

} // namespace

TIdProxyChoice SystemProxyFor(const std::string& url) {
    try {
        return InternetOptionsProxyFor(url);
    } catch (...) { // out of memory, or a text WinHTTP gave that cannot be converted
        return {};
    }
}
