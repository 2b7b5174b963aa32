#include "host/SysUtils.h"

#include <gtest/gtest.h>

TEST(ExtractFilePath, KeepsTheLastDelimiterAndNothingAfterIt) {
    EXPECT_EQ(ExtractFilePath("C:\\a\\b.ini"), "C:\\a\\");
    EXPECT_EQ(ExtractFilePath("C:b.ini"), "C:");
    EXPECT_EQ(ExtractFilePath("b.ini"), "");
    EXPECT_EQ(ExtractFilePath("D:\\tesmir.ini"), "D:\\");
    EXPECT_EQ(ExtractFilePath("C:\\a:b\\c"), "C:\\a:b\\");
    EXPECT_EQ(ExtractFilePath("C:\\dir\\"), "C:\\dir\\");
}

TEST(ApplicationTitleFromFileName, CutsAtTheFirstDotAndLowersTheRest) {
    EXPECT_EQ(ApplicationTitleFromFileName("C:\\x\\UPDATE.V2.EXE"), "Update");
    EXPECT_EQ(ApplicationTitleFromFileName("/opt/vyk/VYKPatch"), "Vykpatch");
    EXPECT_EQ(ApplicationTitleFromFileName("vYKPatch.exe"), "vykpatch");
    EXPECT_EQ(ApplicationTitleFromFileName("/opt/v.1/VYKPatch"), "Vykpatch");
}

TEST(ErrorDisplayText, AddsAPeriodOnlyAfterBytesAboveThePeriod) {
    struct Case {
        const char* message;
        const char* shown;
    } cases[] = {
        {"", ""},
        {"Done.", "Done."},
        {"Really?", "Really?."},
        {"Code:", "Code:."},
        {"Error 404", "Error 404."},
        {"Stop!", "Stop!"},
        {"(x)", "(x)"},
        {"Invalid data type for 'InstallPath'", "Invalid data type for 'InstallPath'"},
        {"trailing ", "trailing "},
        {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found."},
        {"přerušena", "přerušena."}, // ends in a byte from 0x80 up
    };
    for (const auto& c : cases) EXPECT_EQ(ErrorDisplayText(c.message), c.shown) << c.message;
}
