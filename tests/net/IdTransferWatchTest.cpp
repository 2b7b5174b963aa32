#include "net/IdTransferWatch.h"

#include "net/IdExceptionCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Clock = TIdTransferWatch::Clock;

// What the watch says at a moment: "" while the transfer may go on, else the
// error's class, and how long a wait without a limit of its own may last.
struct Moment {
    std::string failure;
    std::int32_t bound;
};

Moment At(const TIdTransferWatch& watch, Clock::time_point now) {
    try {
        watch.Check(now);
    } catch (const EIdTransferTimeout&) {
        return {"time", watch.Bound(-2, now)};
    } catch (const EIdLowSpeedTimeout&) {
        return {"pace", watch.Bound(-2, now)};
    } catch (const EIdTransferAborted&) {
        return {"abort", watch.Bound(-2, now)};
    }
    return {"", watch.Bound(-2, now)};
}

} // namespace

// Bytes arrive at whole tenths of a second; the watch is asked at a later one.
TEST(TIdTransferWatch, PaceOverSpansAndTimeOverAll) {
    const struct {
        const char* what;
        std::int32_t timeLimit, lowSpeedLimit, lowSpeedTime;
        std::vector<std::pair<int, int>> arrivals; // tenth of a second, bytes
        int asked;                                 // tenth of a second
        const char* failure;
        std::int32_t bound;
        int abort = 0; // 1: a signal watched, 2: and set
    } rows[] = {
        {"no bound at all", 0, 0, 0, {}, 1000, "", -2},
        {"a pace without its time", 0, 100, 0, {}, 1000, "", -2},
        {"time left", 2000, 0, 0, {}, 15, "", 500},
        {"time up", 2000, 0, 0, {{5, 1 << 30}}, 20, "time", 0},
        {"nothing for the whole span", 0, 100, 2, {}, 20, "pace", 0},
        {"just short of the span", 0, 100, 2, {}, 19, "", 100},
        {"one byte short of the pace", 0, 100, 2, {{10, 199}}, 20, "pace", 0},
        {"the pace met starts a new span", 0, 100, 2, {{10, 200}}, 29, "", 100},
        {"which ends in its turn", 0, 100, 2, {{10, 200}}, 30, "pace", 0},
        {"spans add up their bytes", 0, 100, 2, {{3, 100}, {7, 100}, {25, 150}}, 26, "", 100},
        {"a burst keeps only its own span", 0, 100, 2, {{1, 1 << 20}}, 21, "pace", 0},
        {"time before pace", 1500, 100, 2, {}, 16, "time", 0},
        {"a watched abort cuts every wait", 0, 0, 0, {}, 1000, "", 100, 1},
        {"a shorter bound stands under it", 2050, 0, 0, {}, 20, "", 50, 1},
        {"abort set", 0, 0, 0, {}, 5, "abort", 100, 2},
        {"abort before time", 2000, 0, 0, {}, 30, "abort", 0, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Clock::time_point start{};
        const auto tenths = [&](int n) { return start + std::chrono::milliseconds(100 * n); };
        TIdTransferWatch watch;
        const std::atomic<bool> abort{row.abort == 2};
        watch.Start(row.timeLimit, row.lowSpeedLimit, row.lowSpeedTime,
                    row.abort ? &abort : nullptr, start);
        for (const auto& [when, bytes] : row.arrivals) watch.Received(bytes, tenths(when));
        const Moment moment = At(watch, tenths(row.asked));
        EXPECT_EQ(moment.failure, row.failure);
        EXPECT_EQ(moment.bound, row.bound);
        // A wait's own shorter limit stands.
        if (row.bound > 7) {
            EXPECT_EQ(watch.Bound(7, tenths(row.asked)), 7);
        }
    }
}
