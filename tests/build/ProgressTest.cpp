// The progress display's arithmetic: byte counts in the Meter's 16-bit words
// (totals past 4 GiB and the boundaries), and the rule that shows a meter
// only for a slow operation.
#include <gtest/gtest.h>

#include <cstdint>

#include "builder/progress.h"

namespace {

const uint64_t kGiB = 1ull << 30;

}  // namespace

TEST(MeterScale, RangeAndPositionAtTheBoundaries)
{
    struct Case {
        const char* why;
        uint64_t total, position;
        uint16_t range, at;
    } cases[] = {
        {"nothing to do", 0, 0, 0, 0},
        {"nothing to do, a position all the same", 0, 5, 0, 0},
        {"one byte, not yet", 1, 0, 1, 0},
        {"one byte, done", 1, 1, 1, 1},
        {"a small total is kept exact", 1000, 999, 1000, 999},
        {"the largest exact total", 0xFFFF, 0x7FFF, 0xFFFF, 0x7FFF},
        {"the first scaled total, half", 0x10000, 0x8000, 0xFFFF, 0x7FFF},
        {"the first scaled total, one short of done", 0x10000, 0xFFFF, 0xFFFF, 0xFFFE},
        {"4 GiB - 1, half", 0xFFFFFFFFull, 0x80000000ull, 0xFFFF, 0x7FFF},
        {"4 GiB, a quarter", 4 * kGiB, kGiB, 0xFFFF, 0x3FFF},
        {"5 GiB, 3 GiB done", 5 * kGiB, 3 * kGiB, 0xFFFF, 39321},
        {"5 GiB, done", 5 * kGiB, 5 * kGiB, 0xFFFF, 0xFFFF},
        {"past the total is done", 5 * kGiB, 6 * kGiB, 0xFFFF, 0xFFFF},
        {"the largest total, one short", UINT64_MAX, UINT64_MAX - 1, 0xFFFF, 0xFFFE},
        {"the largest total, half", UINT64_MAX, UINT64_MAX / 2, 0xFFFF, 0x7FFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(c.range, meter_range(c.total));
        EXPECT_EQ(c.at, meter_position(c.position, c.total));
    }
}

TEST(MeterScale, PositionsNeverGoBackOrPastTheRange)
{
    for (uint64_t total : {uint64_t(0x10000), uint64_t(0xFFFFFFFF), 5 * kGiB, uint64_t(1) << 50}) {
        SCOPED_TRACE(total);
        uint16_t last = 0;
        // A build's steps: 64 KiB pieces with an odd tail, and a step past the end.
        for (uint64_t at = 0;; at += total / 997 + 65536) {
            uint64_t position = at < total ? at : total;
            uint16_t shown = meter_position(position, total);
            EXPECT_GE(shown, last);
            EXPECT_LE(shown, meter_range(total));
            last = shown;
            if (position == total)
                break;
        }
        EXPECT_EQ(meter_range(total), last);
    }
}

TEST(MeterRule, ShowsTheMeterOnlyForASlowOperation)
{
    struct Step {
        uint32_t position, at_ms;
    };
    struct Case {
        const char* why;
        uint32_t total;
        Step steps[4];
        MeterVerdict verdict;
    } cases[] = {
        {"half done within 400 ms: fast, never shown", 1000, {{100, 100}, {500, 350}, {600, 2000}, {700, 9000}}, kMeterHide},
        {"1 % after 500 ms: slow, shown", 1000, {{5, 200}, {10, 500}, {0, 0}, {0, 0}}, kMeterShow},
        {"nothing before 300 ms decides", 1000, {{400, 100}, {900, 300}, {0, 0}, {0, 0}}, kMeterUndecided},
        {"the limit: 4 % per tenth of a second is slow", 100, {{16, 400}, {0, 0}, {0, 0}, {0, 0}}, kMeterShow},
        {"5 % per tenth is fast", 100, {{20, 400}, {0, 0}, {0, 0}, {0, 0}}, kMeterHide},
        {"position 0 never decides", 1000, {{0, 5000}, {0, 9000}, {0, 0}, {0, 0}}, kMeterUndecided},
        {"a total of 0 never decides", 0, {{10, 5000}, {0, 0}, {0, 0}, {0, 0}}, kMeterUndecided},
        {"near 4 GiB, no overflow", 0xFFFFFFF0u, {{0xFFFFFFF0u, 301}, {0, 0}, {0, 0}, {0, 0}}, kMeterHide},
        {"a slow start, a fast end: decided once", 1000, {{10, 1000}, {1000, 1100}, {0, 0}, {0, 0}}, kMeterShow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        MeterRule rule;
        // The clock starts with the operation, even when the tick count wraps.
        const uint32_t start = 0xFFFFFF00u;
        rule.start(c.total, start);
        for (const Step& s : c.steps)
            if (s.at_ms != 0)
                rule.step(s.position, start + s.at_ms);
        EXPECT_EQ(c.verdict, rule.verdict());
    }
    MeterRule spanning;
    spanning.start(1000, 10);
    spanning.decide_now();
    EXPECT_EQ(kMeterShow, spanning.step(1000, 20)) << "spanning shows its meter from the start";
}
