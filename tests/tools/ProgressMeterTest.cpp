#include "tools/ProgressMeter.h"

#include <gtest/gtest.h>

TEST(TProgressMeter, LinesFromAClockOfItsOwn) {
    std::chrono::steady_clock::time_point now{};
    std::string shown;
    TProgressMeter meter([&](const std::string& text) { shown += text; }, [&] { return now; });
    auto after = [&](int ms) { now += std::chrono::milliseconds(ms); };

    // A short body (a redirect's) that ends within 100 ms gives way without a line.
    meter.Start(10);
    meter.Update(10);
    meter.Start(1000);
    EXPECT_EQ(shown, "");
    // 99.6% is not yet 100%.
    after(1000);
    meter.Update(996);
    EXPECT_EQ(shown, "\r996 B of 1000 B  99%  996 B/s  0:00 left");
    // A body that was shown gets its final line when the next one starts; an
    // announced length far beyond what arrives has no time left to tell.
    shown.clear();
    meter.Start(9000000000000000000);
    EXPECT_EQ(shown, "\r996 B of 1000 B  99%  996 B/s  in 0:01  \n");
    shown.clear();
    after(1100);
    meter.Update(1);
    EXPECT_EQ(shown, "\r1 B of 7.8 EiB   0%  1 B/s  --:-- left");
    // Cleared for a trace line: blanked once, drawn again by the next update.
    shown.clear();
    meter.Clear();
    meter.Clear();
    EXPECT_EQ(shown, "\r" + std::string(38, ' ') + "\r");
    shown.clear();
    meter.Finish();
    EXPECT_EQ(shown.back(), '\n');
    EXPECT_NE(shown.find(" in 0:01"), std::string::npos);
}
