#include "net/IdGlobal.h"

#include "host/Exception.h"

#include <gtest/gtest.h>

TEST(IntegerConversion, AcceptsDecimalHexAndSigns) {
    EXPECT_EQ(TryTextToInt32("  42 "), 42);
    EXPECT_EQ(TryTextToInt32("-7"), -7);
    EXPECT_EQ(TryTextToInt32("+7"), 7);
    EXPECT_EQ(TryTextToInt32("$7F"), 127);
    EXPECT_EQ(TryTextToInt32("x10"), 16);
    EXPECT_EQ(TryTextToInt32("0X1a"), 26);
    EXPECT_EQ(TryTextToInt32("2147483647"), 2147483647);
    EXPECT_EQ(TryTextToInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(TryTextToInt64("9223372036854775807"), INT64_MAX);
}

TEST(IntegerConversion, RejectsEverythingElse) {
    for (const char* text : {"", " ", "1x", "2147483648", "$", "0x", "1 2", "--1", "12a"})
        EXPECT_FALSE(TryTextToInt32(text)) << text;
    EXPECT_THROW(TextToInt32("abc"), EConvertError);
}

TEST(IsIPv4Text, AcceptsDottedDecimalVariants) {
    for (const char* text : {"10.0.0.1", "0.0.0.0", "255.255.255.255", " 10 . 0 .0. 1", "10.0.0.1.",
                             "$7F.0.0.1", "127.0.0.1"})
        EXPECT_TRUE(IsIPv4Text(text)) << text;
}

TEST(IsIPv4Text, RejectsNamesAndBadParts) {
    for (const char* text :
         {"10.0.0", "10.0.0.256", "10.0.0.1.2", "-1.0.0.1", "", "localhost", "a.b.c.d", "10..0.1"})
        EXPECT_FALSE(IsIPv4Text(text)) << text;
}

TEST(CanonicalIPv6Text, ExpandsToEightGroups) {
    EXPECT_EQ(CanonicalIPv6Text("::1"), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(CanonicalIPv6Text("1::"), "1:0:0:0:0:0:0:0");
    EXPECT_EQ(CanonicalIPv6Text("::"), "0:0:0:0:0:0:0:0");
    EXPECT_EQ(CanonicalIPv6Text("2001:db8::1"), "2001:DB8:0:0:0:0:0:1");
    EXPECT_EQ(CanonicalIPv6Text("::ffff:1.2.3.4"), "0:0:0:0:0:FFFF:0102:0304");
    EXPECT_EQ(CanonicalIPv6Text("fe80:0:0:0:0:0:0:00ab"), "FE80:0:0:0:0:0:0:AB");
    EXPECT_EQ(CanonicalIPv6Text("1:2:3"), "1:2:3");
}

TEST(CanonicalIPv6Text, InvalidTextsGiveEmpty) {
    for (const char* text : {"", "1::2::3", "1.2.3.4", "12345::1", "::g", "1:2:3:4:5:6:7:8:9",
                             "::1.2.3", "::1.2.3.256", "1.2.3.4::", "host", "::ab.1.2.3"})
        EXPECT_EQ(CanonicalIPv6Text(text), "") << text;
}

TEST(TIdIPAddress, ParsesIPv6AndClassicIPv4Numbers) {
    auto v6 = TIdIPAddress::ParseAddress("::1");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->AddressKind, Id_IPv6);
    EXPECT_EQ(v6->IPv6Words, (std::array<std::uint16_t, 8>{0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(v6->NetworkBytes().size(), 16u);
    EXPECT_EQ(v6->NetworkBytes()[15], 1);

    auto shortForm = TIdIPAddress::ParseAddress("10.1");
    ASSERT_TRUE(shortForm);
    EXPECT_EQ(shortForm->AddressKind, Id_IPv4);
    EXPECT_EQ(shortForm->IPv4Value, 0x0A000001u);
    EXPECT_EQ(TIdIPAddress::ParseAddress("167772161")->IPv4Value, 0x0A000001u);
    EXPECT_EQ(TIdIPAddress::ParseAddress("0x7f.1")->IPv4Value, 0x7F000001u);
    EXPECT_EQ(TIdIPAddress::ParseAddress("010.0.0.1")->IPv4Value, 0x08000001u);
    EXPECT_EQ(shortForm->NetworkBytes(), (TIdBytes{10, 0, 0, 1}));

    EXPECT_FALSE(TIdIPAddress::ParseAddress("www.example.com"));
    EXPECT_FALSE(TIdIPAddress::ParseAddress("0xzz.1"));
}

TEST(TickCount, DifferenceSurvivesOneWrap) {
    EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(TicksSince(100u, 350u), 250u);
}
