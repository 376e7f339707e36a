// The non-local returns of common/QlRaise.h. The same cases run on both
// roads: natively with exceptions, and under Wine built the stub's way,
// through setjmp recovery points.
#include <gtest/gtest.h>

#include <string>

#include "common/QlRaise.h"

namespace {

struct EndValue {
    int value;
};
struct OtherKind {
    int value;
};

// Counts its live objects; its constructor raises when asked to.
struct Counted {
    static int live;
    explicit Counted(bool refuse)
    {
        if (refuse)
            qlRaise(OtherKind{7});
        ++live;
    }
    ~Counted() { --live; }
};
int Counted::live = 0;

[[noreturn]] void raise_deep(int depth, int value)
{
    if (depth == 0)
        qlRaise(EndValue{value});
    raise_deep(depth - 1, value);
}

}  // namespace

TEST(QlRaise, ReturnsToTheInnermostPointThatTakesTheKind)
{
    std::string trace;
    int got = 0;
    qlCatch<EndValue>(
        [&] {
            qlCatch<OtherKind>(
                [&] {
                    trace += "in;";
                    raise_deep(20, 42);
                },
                [&](const OtherKind&) { trace += "wrong;"; });
            trace += "not reached;";
        },
        [&](const EndValue& end) {
            got = end.value;
            trace += "caught;";
        });
    EXPECT_EQ(got, 42);
    EXPECT_EQ(trace, "in;caught;");
}

TEST(QlRaise, BodiesThatEndNormallyLeaveNoPointBehind)
{
    int ran = 0;
    for (int i = 0; i < 1000; ++i)
        qlCatch<EndValue>([&] { ++ran; }, [](const EndValue&) {});
    // The stack is as before: a raise now reaches this point, not a stale one.
    int got = 0;
    qlCatch<EndValue>([] { qlRaise(EndValue{5}); }, [&](const EndValue& end) { got = end.value; });
    EXPECT_EQ(ran, 1000);
    EXPECT_EQ(got, 5);
}

TEST(QlRaise, CleanupRunsOnTheWayOutAndTheRaiseGoesOn)
{
    std::string trace;
    qlCatchAll(
        [&] {
            qlUnwinding([&] { qlRaise(OtherKind{1}); }, [&] { trace += "inner cleanup;"; });
            trace += "not reached;";
        },
        [&] { trace += "caught;"; });
    EXPECT_EQ(trace, "inner cleanup;caught;");

    trace.clear();
    qlUnwinding([&] { trace += "body;"; }, [&] { trace += "cleanup;"; });
    EXPECT_EQ(trace, "body;");
}

TEST(QlRaise, HandlerMayRaiseToTheNextPointOut)
{
    int outer = 0;
    qlCatch<OtherKind>(
        [&] {
            qlCatch<EndValue>([] { qlRaise(EndValue{1}); },
                              [](const EndValue& end) { qlRaise(OtherKind{end.value + 1}); });
        },
        [&](const OtherKind& other) { outer = other.value; });
    EXPECT_EQ(outer, 2);
}

TEST(QlRaise, ARefusingConstructorRaisesThroughqlNew)
{
    Counted::live = 0;
    Counted* made = qlNew<Counted>(false);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(Counted::live, 1);
    delete made;

    int refused = 0;
    for (int i = 0; i < 100; ++i) {
        qlCatch<OtherKind>([] { qlNew<Counted>(true); },
                           [&](const OtherKind& other) { refused += other.value == 7; });
    }
    EXPECT_EQ(refused, 100);
    EXPECT_EQ(Counted::live, 0);
}
