#include "http/IdProxySettings.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string Shown(const TIdProxyChoice& choice) {
    const std::string host =
        choice.Direct() ? "direct" : choice.Host + ":" + std::to_string(choice.Port);
    return host + " (" + choice.Source + ")";
}

} // namespace

// The Internet options in the order Windows programs follow: detection, the
// setup script, the fixed proxy for the scheme past its bypass list, direct.
// An answer of "-" is a detection or script that found nothing. An "=" in a
// password names no scheme.
TEST(InternetOptions, DetectionThenScriptThenFixedProxyPastTheBypassList) {
    const std::string script = "http://wpad.test/proxy.pac";
    const struct {
        bool detect;
        bool useScript;
        const char* proxy;
        const char* bypass;
        const char* url;
        const char* detected; // the answers
        const char* scripted;
        std::string expected;
    } rows[] = {
        {false, false, "proxy:3128", "", "http://vendor.test/", "", "",
         "proxy:3128 (Internet options)"},
        {false, false, " proxy ", "", "http://vendor.test/", "", "", "proxy:80 (Internet options)"},
        {false, false, "http=a:1;https=b:2", "", "https://v/", "", "", "b:2 (Internet options)"},
        {false, false, "HTTP=a:1 https=b:2", "", "http://v/", "", "", "a:1 (Internet options)"},
        {false, false, "http=a:1", "", "https://v/", "", "", "direct ()"},
        {false, false, "ftp=f:1;h:2", "", "http://v/", "", "", "h:2 (Internet options)"},
        {false, false, "", "", "http://v/", "", "", "direct ()"},
        {false, false, "http://:0", "", "http://v/", "", "", "direct ()"},
        // The bypass list: patterns, addresses, <local>; nothing else goes direct.
        {false, false, "p:1", "*.tavrolin.cz", "http://www.Tavrolin.cz/", "", "",
         "direct (Internet options' bypass list)"},
        {false, false, "p:1", "*.tavrolin.cz", "http://tavrolin.cz/", "", "",
         "p:1 (Internet options)"},
        {false, false, "p:1", "<local>", "http://intranet/", "", "",
         "direct (Internet options' bypass list)"},
        {false, false, "p:1", "<local>", "http://127.0.0.1/", "", "", "p:1 (Internet options)"},
        {false, false, "p:1", "<local>", "http://localhost.test/", "", "",
         "p:1 (Internet options)"},
        {false, false, "p:1", "10.*; 192.168.1.5", "http://10.0.0.7:81/", "", "",
         "direct (Internet options' bypass list)"},
        {false, false, "p:1", "10.*;192.168.1.5", "http://192.168.1.50/", "", "",
         "p:1 (Internet options)"},
        {false, false, "p:1", "v*t", "http://vendor.test/", "", "",
         "direct (Internet options' bypass list)"},
        // Detection and the script decide when they answer, DIRECT included.
        {true, true, "p:1", "", "http://v/", "d:8080", "s:1", "d:8080 (automatic detection)"},
        {true, true, "p:1", "", "http://v/", "-", "s:1;t:2", "s:1 (setup script " + script + ")"},
        {false, true, "p:1", "", "http://v/", "", "", "direct (setup script " + script + ")"},
        {true, false, "p:1", "", "http://v/", "", "-", "direct (automatic detection)"},
        {false, false, "p:1", "", "http://v/", "d:1", "s:1", "p:1 (Internet options)"},
        {true, true, "p:1", "v", "http://v/", "-", "-", "direct (Internet options' bypass list)"},
        {false, true, "p:1", "", "http://v/", "", "s:x", "p:1 (Internet options)"},
        {true, false, "http://u:p=w@q:8", "", "https://u:secret@v/x?y", "-", "",
         "q:8 (Internet options)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.proxy) + " | " + row.bypass + " | " + row.url);
        TIdInternetOptions options;
        options.AutoDetect = row.detect;
        options.AutoConfigUrl = row.useScript ? script : "";
        options.Proxy = row.proxy;
        options.Bypass = row.bypass;
        std::map<std::string, int> asked;
        const auto ask = [&](const std::string& scriptUrl,
                             const std::string& shown) -> std::optional<std::string> {
            ++asked[scriptUrl];
            // A script sees no credentials, nor where on an https site.
            EXPECT_EQ(shown.find('@'), std::string::npos) << shown;
            if (shown.rfind("https:", 0) == 0) {
                EXPECT_EQ(shown, "https://v/");
            }
            const std::string answer = scriptUrl.empty() ? row.detected : row.scripted;
            if (answer == "-") return std::nullopt;
            return answer;
        };
        const TIdProxyChoice choice = ChooseFromInternetOptions(options, row.url, ask);
        EXPECT_EQ(Shown(choice), row.expected);
        EXPECT_EQ(asked[""], row.detect ? 1 : 0);
        const bool detected = row.detect && std::string(row.detected) != "-";
        EXPECT_EQ(asked[script], row.useScript && !detected ? 1 : 0);
    }
}
