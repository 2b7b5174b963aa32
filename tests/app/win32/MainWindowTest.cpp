#include "app/win32/MainWindow.h"

#include <gtest/gtest.h>

namespace {

class NoHost : public TWindowsHostServices {};

void Unused(const std::string&, TStream&, TBackgroundWork&) {}

} // namespace

TEST(ScaleLayout, StoredDesignHoldsAtItsOwnResolution) {
    NoHost host;
    TForm1 form(host, Unused);
    int measured = 0;
    const TWindowLayout layout = ScaleLayout(form, 96, [&](int) { return ++measured; });
    EXPECT_EQ(measured, 0); // nothing to measure
    EXPECT_EQ(layout.ClientWidth, 238);
    EXPECT_EQ(layout.ClientHeight, 42);
    EXPECT_EQ(layout.ButtonLeft, 8);
    EXPECT_EQ(layout.ButtonWidth, 225);
    EXPECT_EQ(layout.FontHeight, -11);
}

TEST(ScaleLayout, SizesFollowTheTextHeightOfTheScaledFont) {
    NoHost host;
    TForm1 form(host, Unused);
    int askedFor = 0;
    // 120 pixels per inch: -11 * 120 / 96 = -13.75, to the nearest -14.
    const TWindowLayout layout = ScaleLayout(form, 120, [&](int height) {
        askedFor = height;
        return 16;
    });
    EXPECT_EQ(askedFor, -14);
    EXPECT_EQ(layout.FontHeight, -14);
    EXPECT_EQ(layout.ClientWidth, 293); // 238 * 16 / 13 = 292.9
    EXPECT_EQ(layout.ClientHeight, 52); // 42 * 16 / 13 = 51.7
    EXPECT_EQ(layout.ButtonTop, 10);    // 8 * 16 / 13 = 9.8
    EXPECT_EQ(layout.ButtonHeight, 31); // 25 * 16 / 13 = 30.8

    // A font that keeps the stored text height keeps the sizes.
    const TWindowLayout same = ScaleLayout(form, 120, [](int) { return 13; });
    EXPECT_EQ(same.ClientWidth, 238);
    EXPECT_EQ(same.FontHeight, -14);
}
