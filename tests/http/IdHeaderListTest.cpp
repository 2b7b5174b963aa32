#include "http/IdHeaderList.h"

#include "host/Exception.h"

#include <gtest/gtest.h>

namespace {

TIdHeaderList ListOf(std::initializer_list<const char*> lines) {
    TIdHeaderList list;
    for (const char* line : lines) list.Add(line);
    return list;
}

} // namespace

TEST(TIdHeaderList, LooksUpNamesWithoutCase) {
    const auto list = ListOf({"Host: h", "content-length: 5", "X-Long: a", "  b", "\tc", "Next: n"});
    EXPECT_EQ(list.FindHeader("Content-Length"), 1);
    EXPECT_EQ(list.ValueOf("Content-Length"), "5");
    EXPECT_EQ(list.ValueOf("x-long"), "a b c");
    EXPECT_EQ(list.ValueOf("Next"), "n");
    EXPECT_EQ(list.NameAt(1), "content-length");
    EXPECT_EQ(list.FindHeader("Missing"), -1);
    EXPECT_EQ(list.ValueOf("Missing"), "");
    EXPECT_EQ(list.ValueAt(99), "");
}

TEST(TIdHeaderList, SettingsChangeLookup) {
    auto list = ListOf({"X-Long:   a  ", "  b"});
    list.JoinContinuations = false;
    EXPECT_EQ(list.ValueOf("X-Long"), "a");
    list.NamesCaseSensitive = true;
    EXPECT_EQ(list.FindHeader("x-long"), -1);
    EXPECT_EQ(list.FindHeader("X-Long"), 0);

    auto pairs = ListOf({"realm=x", "name = y"});
    pairs.PairSeparator = "=";
    EXPECT_EQ(pairs.ValueOf("realm"), "x");
    EXPECT_EQ(pairs.ValueOf("name "), "y");
}

TEST(TIdHeaderList, SetHeaderReplacesAppendsAndDeletes) {
    auto list = ListOf({"A: 1", "B: 2", " 2b", "C: 3"});
    list.SetHeader("b", "two");
    EXPECT_EQ(list.Text(), "A: 1\r\nb: two\r\nC: 3\r\n");
    list.SetHeader("D", "4");
    EXPECT_EQ(list.Strings(3), "D: 4");
    list.SetHeader("a", "");
    list.SetHeader("missing", "");
    EXPECT_EQ(list.Text(), "b: two\r\nC: 3\r\nD: 4\r\n");

    auto folded = ListOf({"B: 2", " 2b", "C: 3"});
    folded.SetHeader("B", "");
    EXPECT_EQ(folded.Text(), "C: 3\r\n");
}

TEST(TIdHeaderList, LongValuesWrapAtBreakCharactersOutsideQuotes) {
    TIdHeaderList list;
    list.WrapWidth = 20;
    list.SetHeader("Accept", "text/html, text/plain, image/png, */*");
    ASSERT_GT(list.Count(), 1);
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_LE(list[i].size(), 20u) << list[i];
        EXPECT_NE(list[i].back(), ' ');
        if (i > 0) EXPECT_EQ(list[i][0], ' ');
    }
    EXPECT_EQ(list.ValueOf("Accept"), "text/html, text/plain, image/png, */*");

    list.Clear();
    list.SetHeader("X", "\"a b c d e f g h i j k\" tail");
    EXPECT_EQ(list[0], "X: \"a b c d e f g h i j k\"");
    EXPECT_EQ(list[1], " tail");

    // Re-setting drops the old continuation lines.
    list.SetHeader("X", "short");
    EXPECT_EQ(list.Text(), "X: short\r\n");

    list.SplitLongLines = false;
    list.SetHeader("X", std::string(40, 'v') + " " + std::string(10, 'w'));
    EXPECT_EQ(list.Count(), 1);
}

TEST(TIdHeaderList, TextRoundTripAcceptsAnyLineEnd) {
    TIdHeaderList list;
    list.SetText("A: 1\r\nB: 2\nC: 3\rD: 4\r\n");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Text(), "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n");
    list.SetText("A\r\n\r\nB");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list[1], "");
}

TEST(TIdHeaderList, CollectValuesKeepsOrder) {
    const auto list = ListOf({"WWW-Authenticate: Basic realm=\"a\"", "Other: x",
                              "www-authenticate: Digest", " realm=\"b\""});
    TIdHeaderList into;
    into.Add("kept");
    list.CollectValues("WWW-Authenticate", &into);
    EXPECT_EQ(into.Text(), "kept\r\nBasic realm=\"a\"\r\nDigest realm=\"b\"\r\n");
    list.CollectValues("WWW-Authenticate", nullptr);
}

TEST(TIdHeaderList, IndexesOutsideTheListRaise) {
    auto list = ListOf({"A: 1"});
    EXPECT_THROW(list.Strings(1), ERangeError);
    EXPECT_THROW(list.Delete(-1), ERangeError);
    EXPECT_THROW(list.Insert(2, "x"), ERangeError);
    list.Insert(1, "B: 2");
    EXPECT_EQ(list[1], "B: 2");
}
