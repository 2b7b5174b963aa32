#include "http/IdDateTime.h"

#include "host/TimeZone.h"
#include "net/IdExceptionCore.h"

#include <gtest/gtest.h>

namespace {

constexpr double kSecond = 1.0 / 86400;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return TryEncodeDateTime(y, mo, d, h, mi, s).value();
}

} // namespace

TEST(TryEncodeDateTime, CountsDaysFromTheEndOf1899) {
    EXPECT_EQ(At(1899, 12, 30), 0);
    EXPECT_EQ(At(1900, 3, 1), 61);
    EXPECT_DOUBLE_EQ(At(2000, 2, 29, 18), 36585.75);
    EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29));
    EXPECT_FALSE(TryEncodeDateTime(2001, 1, 1, 24));
}

TEST(DateTimeGMTToHttpStr, WritesTheStoredValueWithEnglishNames) {
    EXPECT_EQ(DateTimeGMTToHttpStr(At(1994, 11, 6, 8, 49, 37)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(DateTimeGMTToHttpStr(At(2000, 2, 29)), "Tue, 29 Feb 2000 00:00:00 GMT");
    // A value a hair below a whole second must not print as the second before.
    EXPECT_EQ(DateTimeGMTToHttpStr(At(2024, 12, 31, 23, 59, 59) + kSecond - 1e-12),
              "Wed, 01 Jan 2025 00:00:00 GMT");
}

TEST(HttpDateToUTC, ReadsTheCommonFormsAndZones) {
    const TDateTime nov6 = At(1994, 11, 6, 8, 49, 37);
    const struct {
        const char* text;
        TDateTime utc;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov6},      {"Sunday, 06-Nov-94 08:49:37 GMT", nov6},
        {"Sun Nov  6 08:49:37 1994", nov6},           {"Sun,06 Nov 1994 08:49:37 GMT", nov6},
        {"  06 nov 1994 08:49:37  ", nov6},           {"06 Nov 1994 09:49:37 +0100", nov6},
        {"06 Nov 1994 07:19:37 -0130", nov6},         {"06 Nov 1994 08:49:37 +01xx", nov6},
        {"Nov 06 1994 08:49:37 PM", nov6 + 0.5},      {"06 Nov 1994 12:49:37 AM", nov6 - 8.0 / 24},
        {"06 Nov 1994 12:49:37 PM", nov6 + 4.0 / 24}, {"06 Nov 94", At(1994, 11, 6)},
        {"01-Jan-05 10:00", At(2005, 1, 1, 10)},      {"01 Jan 79", At(2079, 1, 1)},
    };
    for (const auto& c : cases) {
        const auto utc = HttpDateToUTC(c.text);
        ASSERT_TRUE(utc) << c.text;
        EXPECT_NEAR(*utc, c.utc, kSecond / 10) << c.text;
    }
    for (const char* bad : {"", "soon", "32 Nov 1994", "06 Foo 1994", "06 Nov 1994 25:00:00"})
        EXPECT_FALSE(HttpDateToUTC(bad)) << bad;
}

TEST(GMTToLocalDateTime, AddsTheLocalOffsetEvenToAnUnreadableDate) {
    EXPECT_NEAR(GMTToLocalDateTime("Thu, 01 Dec 1994 16:00:00 +0200", -60), At(1994, 12, 1, 13),
                kSecond / 10);
    EXPECT_NEAR(GMTToLocalDateTime("soon", 90), 90.0 / 1440, kSecond / 10);
    EXPECT_EQ(GMTToLocalDateTime("", std::nullopt), 0);
    EXPECT_THROW(GMTToLocalDateTime("soon", std::nullopt), EIdFailedToRetreiveTimeZoneInfo);
}

TEST(GMTToLocalDateTime, UsesTheMachineOffset) {
    const auto offset = LocalOffsetFromUTCMinutes();
    ASSERT_TRUE(offset);
    EXPECT_NEAR(GMTToLocalDateTime("01 Dec 1994 16:00:00"), At(1994, 12, 1, 16) + *offset / 1440.0,
                kSecond / 10);
    EXPECT_NEAR(NowLocal() - NowUTC(), *offset / 1440.0, kSecond);
}
