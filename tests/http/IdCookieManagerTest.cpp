#include "http/IdCookieManager.h"

#include "host/Exception.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

constexpr double kSecond = 1.0 / 86400;

template <typename Cookie> Cookie Parsed(const std::string& text) {
    Cookie cookie;
    cookie.Parse(text);
    return cookie;
}

} // namespace

TEST(TIdCookieManager, DomainMustEndTheHostOnALabelBoundary) {
    const struct {
        const char* domain;
        const char* host;
        bool valid;
    } cases[] = {
        {"example.com", "www.example.com", true},
        {".example.com", "www.example.com", true},
        {"www.example.com", "www.example.com", true},
        {"EXAMPLE.com", "www.Example.COM", true},
        {"example.com", "badexample.com", false},
        {".example.com", "badexample.com", false},
        {"ample.com", "www.example.com", false},
        {"other.com", "www.example.com", false},
        {"www.example.com", "example.com", false},
        {".", "www.example.com", false},
        {"10.0.0.1", "10.0.0.1", true},
        {"0.0.1", "10.0.0.1", false},
        {".0.0.1", "10.0.0.1", false},
        {"::1", "::1", true},
        {"10.0.0.1", "x.10.0.0.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TIdCookieManager::IsValidDomain(c.domain, c.host), c.valid)
            << c.domain << " from " << c.host;
}

TEST(TIdCookie, ParsesNameValueAndAttributesWithoutCase) {
    const auto cookie = Parsed<TIdCookieRFC2109>(
        " SID = 31d4=d9 ; path=\"/docs\"; DOMAIN=example.com; secure; Version=1; Comment=c;");
    EXPECT_EQ(cookie.CookieText(), "SID=31d4=d9");
    EXPECT_EQ(cookie.Path + "|" + cookie.Domain + "|" + cookie.Version + "|" + cookie.Comment,
              "/docs|example.com|1|c");
    EXPECT_TRUE(cookie.Secure);
    EXPECT_EQ(Parsed<TIdCookieRFC2109>("a=b").Path, "/");
}

TEST(TIdCookie, ExpiryFromExpiresOrMaxAge) {
    const char* dec2094 = "Thu, 01 Dec 2094 16:00:00 GMT";
    EXPECT_EQ(Parsed<TIdCookieRFC2109>(std::string("a=b; Expires=") + dec2094).ExpiresAt,
              TryEncodeDateTime(2094, 12, 1, 16).value());
    EXPECT_EQ(Parsed<TIdCookieRFC2109>("a=b; expires=whenever").ExpiresAt, 0);

    const auto aged = Parsed<TIdCookieRFC2109>("a=b; Max-Age=3600");
    EXPECT_EQ(aged.Expires.substr(aged.Expires.size() - 4), " GMT");
    EXPECT_NEAR(aged.ExpiresAt, NowUTC() + 1.0 / 24, 5 * kSecond);
    EXPECT_EQ(Parsed<TIdCookieRFC2109>(std::string("a=b; Max-Age=1; Expires=") + dec2094).Expires,
              dec2094);
    EXPECT_TRUE(Parsed<TIdCookieRFC2109>("a=b; Max-Age=0").IsExpired(NowUTC() + kSecond));
}

TEST(TIdCookieRFC2965, PortList) {
    EXPECT_EQ(Parsed<TIdCookieRFC2965>("a=b").Ports, std::vector<int>{80});
    EXPECT_EQ(Parsed<TIdCookieRFC2965>("a=b; Port=\"80, 8080\"").Ports,
              (std::vector<int>{80, 8080}));
    EXPECT_EQ(Parsed<TIdCookieRFC2965>("a=b; Port=\"\"").Ports, std::vector<int>{80});
    EXPECT_TRUE(Parsed<TIdCookieRFC2965>("a=b; Port=81").Ports.empty());
    EXPECT_THROW(Parsed<TIdCookieRFC2965>("a=b; Port=\"80,http\""), EConvertError);
}

TEST(TIdCookieManager, StoresValidCookiesPerDomainAndReplacesByName) {
    TIdCookieManager store;
    EXPECT_TRUE(store.AddServerCookie("a=1", "www.example.com"));
    EXPECT_TRUE(store.AddServerCookie("b=2; Domain=.example.com", "www.example.com"));
    EXPECT_FALSE(store.AddServerCookie("c=3; Domain=example.com", "badexample.com"));
    EXPECT_THROW(store.AddServerCookie2("d=4; Port=\"x\"", "www.example.com"), EConvertError);
    EXPECT_FALSE(store.AddServerCookie("e=\x01", "www.example.com"));
    EXPECT_FALSE(store.AddServerCookie2("f=6; Path=/\x7f", "www.example.com"));
    EXPECT_EQ(store.Count(), 2u);
    EXPECT_EQ(store.Cookies("WWW.example.com").size(), 1u);

    EXPECT_TRUE(store.AddServerCookie2("B=two; Domain=.example.com", "www.example.com"));
    const auto shared = store.Cookies(".example.com");
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_EQ(shared[0]->Value, "two");
    EXPECT_NE(dynamic_cast<const TIdCookieRFC2965*>(shared[0].get()), nullptr);
}

TEST(TIdCookieManager, OnNewCookieMayRejectAndMayReadTheStore) {
    TIdCookieManager store;
    std::vector<std::string> offered;
    store.OnNewCookie = [&](TIdCookieManager& sender, const TIdCookie& cookie) {
        offered.push_back(cookie.CookieName + "@" + cookie.Domain);
        return sender.Count() == 0;
    };
    EXPECT_TRUE(store.AddServerCookie("a=1", "host"));
    EXPECT_FALSE(store.AddServerCookie("b=2", "host"));
    EXPECT_FALSE(store.AddServerCookie("c=3; Domain=other.test", "host"));
    EXPECT_EQ(offered, (std::vector<std::string>{"a@host", "b@host"}));
    EXPECT_EQ(store.Count(), 1u);
}

TEST(TIdCookieManager, CookieTextMatchesDomainPathExpiryAndSecurity) {
    TIdCookieManager store;
    for (const char* value :
         {"root=1", "docs=2; Path=/docs", "parent=3; Domain=example.com", "safe=4; Secure",
          "gone=5; Max-Age=0", "old=6; Expires=Thu, 01 Dec 1994 16:00:00 GMT"})
        store.AddServerCookie(value, "www.example.com", true);
    store.AddServerCookie("elsewhere=7", "other.com");
    // Secure only from a secure reply; a top-level Domain makes a host-only cookie.
    EXPECT_FALSE(store.AddServerCookie("plain=8; Secure", "www.example.com"));
    EXPECT_FALSE(store.AddServerCookie2("plain=8; Secure", "www.example.com", false));
    EXPECT_FALSE(store.AddServerCookie("safe=evil", "www.example.com")); // nor replace one
    EXPECT_TRUE(store.AddServerCookie("top=9; Domain=.com", "other.com"));
    EXPECT_TRUE(store.AddServerCookie("top=10; Domain=com", "a.other.com"));

    const auto textFor = [&](const char* url, bool secure = false) {
        return store.CookieText(TIdURI(url), secure);
    };
    EXPECT_EQ(textFor("http://www.example.com/docs/a.html"), "parent=3; root=1; docs=2");
    EXPECT_EQ(textFor("http://www.example.com/docs"), "parent=3; root=1; docs=2");
    EXPECT_EQ(textFor("http://www.example.com/docsx/"), "parent=3; root=1");
    EXPECT_EQ(textFor("http://WWW.EXAMPLE.COM/", true), "parent=3; root=1; safe=4");
    EXPECT_EQ(textFor("http://example.com/"), "parent=3");
    EXPECT_EQ(textFor("http://x.www.example.com/"), "parent=3"); // root=1 stays with its host
    EXPECT_EQ(textFor("http://badexample.com/"), "");
    EXPECT_EQ(textFor("http://other.com/"), "elsewhere=7; top=9");
    EXPECT_EQ(textFor("http://a.other.com/"), "top=10");
    EXPECT_EQ(textFor("http://b.com/"), "");
}

TEST(TIdCookieManager, ReadersAndWritersMayRunTogether) {
    TIdCookieManager store;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) (void)store.CookieText(TIdURI("http://host/"), false);
    });
    for (int i = 0; i < 500; ++i)
        store.AddServerCookie("n" + std::to_string(i % 50) + "=v", "host");
    done = true;
    reader.join();
    EXPECT_EQ(store.Count(), 50u);
}

TEST(TIdCookieManager, TheStoreIsBoundedDroppingTheOldest) {
    TIdCookieManager store;
    EXPECT_FALSE(store.AddServerCookie("big=" + std::string(4093, 'x'), "a.test"));
    EXPECT_TRUE(store.AddServerCookie("big=" + std::string(4092, 'x'), "a.test"));
    store.Clear();
    // Per domain: the first ten of sixty are gone; a replaced cookie keeps its age.
    for (int i = 0; i < 60; ++i) {
        store.AddServerCookie("c" + std::to_string(i) + "=1", "a.test");
        if (i == 12) store.AddServerCookie("c10=replaced", "a.test");
    }
    auto kept = store.Cookies("a.test");
    ASSERT_EQ(kept.size(), TIdCookieManager::MaxCookiesPerDomain);
    EXPECT_EQ(kept.front()->CookieName, "c10");
    EXPECT_EQ(kept.front()->Value, "replaced");
    store.AddServerCookie("c60=1", "a.test");
    EXPECT_EQ(store.Cookies("a.test").front()->CookieName, "c11");
    // In all: the oldest domain's cookies go first.
    store.Clear();
    for (int d = 0; d < 61; ++d)
        for (int i = 0; i < 50; ++i)
            store.AddServerCookie("c" + std::to_string(i) + "=1",
                                  "h" + std::to_string(d) + ".test");
    EXPECT_EQ(store.Count(), TIdCookieManager::MaxCookies);
    EXPECT_TRUE(store.Cookies("h0.test").empty());
    EXPECT_EQ(store.Cookies("h1.test").size(), 50u);
    EXPECT_EQ(store.Cookies("h60.test").size(), 50u);
}
