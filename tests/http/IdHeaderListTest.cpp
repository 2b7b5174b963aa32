#include "http/IdHeaderList.h"

#include <gtest/gtest.h>

namespace {

TIdHeaderList ListOf(const std::string& text) {
    TIdHeaderList list;
    list.SetText(text);
    return list;
}

} // namespace

TEST(TIdHeaderList, LookupIgnoresCaseAndJoinsContinuations) {
    auto list = ListOf("Host: h\ncontent-length: 5\nX-Long:   a  \n  b\n\tc\nNext: n\n");
    EXPECT_EQ(list.ValueOf("Content-Length"), "5");
    EXPECT_EQ(list.NameAt(1), "CONTENT-LENGTH");
    EXPECT_EQ(list.ValueOf("x-long"), "a b c");
    EXPECT_EQ(list.ValueOf("Next"), "n");
    EXPECT_EQ(list.FindHeader("Missing"), -1);
    EXPECT_EQ(list.ValueAt(99), "");

    list.JoinContinuations = false;
    EXPECT_EQ(list.ValueOf("X-Long"), "a");
    list.NamesCaseSensitive = true;
    EXPECT_EQ(list.FindHeader("content-Length"), -1);
}

TEST(TIdHeaderList, SetHeaderReplacesAppendsAndDeletesWithContinuations) {
    auto list = ListOf("A: 1\r\nB: 2\r\n 2b\r\nC: 3\r\n");
    list.SetHeader("b", "two");
    list.SetHeader("D", "4");
    list.SetHeader("a", "");
    list.SetHeader("missing", "");
    EXPECT_EQ(list.Text(), "b: two\r\nC: 3\r\nD: 4\r\n");

    auto folded = ListOf("B: 2\r\n 2b\r\nC: 3\r\n");
    folded.SetHeader("B", "");
    EXPECT_EQ(folded.Text(), "C: 3\r\n");
}

TEST(TIdHeaderList, LongValuesWrapAtBreakCharactersOutsideQuotes) {
    TIdHeaderList list;
    list.WrapWidth = 20;
    list.SetHeader("Accept", "text/html, text/plain, image/png, */*");
    EXPECT_EQ(list.Text(), "Accept: text/html,\r\n text/plain,\r\n image/png, */*\r\n");
    EXPECT_EQ(list.ValueOf("Accept"), "text/html, text/plain, image/png, */*");

    // Never inside quotes, and never between the name and its value.
    list.SetHeader("X", "\"a b c d e f g h i j k\" tail");
    EXPECT_EQ(list.Text(), "Accept: text/html,\r\n text/plain,\r\n image/png, */*\r\n"
                           "X: \"a b c d e f g h i j k\"\r\n tail\r\n");
    // A comma right after a break stays in the value.
    TIdHeaderList commas;
    commas.WrapWidth = 12;
    commas.SetHeader("L", "aaaaaaaa ,b");
    EXPECT_EQ(commas.ValueOf("L"), "aaaaaaaa ,b");
    // Setting again drops the old continuation lines.
    list.SetHeader("Accept", "short");
    EXPECT_EQ(list.Text(), "Accept: short\r\nX: \"a b c d e f g h i j k\"\r\n tail\r\n");
}

TEST(TIdHeaderList, TextAcceptsAnyLineEnd) {
    EXPECT_EQ(ListOf("A: 1\r\nB: 2\nC: 3\rD: 4\r\n").Text(), "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n");
    EXPECT_EQ(ListOf("A\r\n\r\nB").Count(), 3);
}

TEST(TIdHeaderList, CollectValuesAppendsInOrder) {
    const auto list = ListOf("WWW-Authenticate: Basic realm=\"a\"\nOther: x\n"
                             "www-authenticate: Digest\n realm=\"b\"\n");
    TIdHeaderList into = ListOf("kept");
    list.CollectValues("WWW-Authenticate", &into);
    EXPECT_EQ(into.Text(), "kept\r\nBasic realm=\"a\"\r\nDigest realm=\"b\"\r\n");
    list.CollectValues("WWW-Authenticate", nullptr);
}
