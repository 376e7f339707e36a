// The calendar date and the packed DOS date and time.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/datetime.h"
#include "common/dostime.h"
#include "tests/support/RecordingHooks.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Fields {
    int year, month, day, hour, minute, second;
};

uint16_t dosDate(int year, int month, int day)
{
    return uint16_t((year - 1980) << 9 | month << 5 | day);
}

uint16_t dosTime(int hour, int minute, int halfSeconds)
{
    return uint16_t(hour << 11 | minute << 5 | halfSeconds);
}

void expectNoReports()
{
    EXPECT_TRUE(qlTakeHookReports().empty());
}

void expectOneReport(int line)
{
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, QlHookReport::Assert);
    EXPECT_EQ(reports[0].source, "datetime");
    EXPECT_EQ(reports[0].line, line);
}

}  // namespace

TEST(Calendar, LeapYearsAndValidity)
{
    struct Case {
        int year, month, day, hour, minute, second, millisecond;
        bool valid;
        const char* why;
    } cases[] = {
        {1900, 2, 29, 0, 0, 0, 0, false, "1900 is no leap year"},
        {2000, 2, 29, 0, 0, 0, 0, true, "2000 is one (divisible by 400)"},
        {2024, 2, 29, 0, 0, 0, 0, true, "divisible by 4"},
        {2023, 2, 29, 0, 0, 0, 0, false, "not divisible by 4"},
        {2023, 4, 31, 0, 0, 0, 0, false, "April has 30 days"},
        {2023, 12, 31, 23, 59, 59, 999, true, "last instant of a year"},
        {1, 1, 1, 0, 0, 0, 0, true, "first year"},
        {9999, 12, 31, 0, 0, 0, 0, true, "last year"},
        {0, 1, 1, 0, 0, 0, 0, false, "year 0"},
        {10000, 1, 1, 0, 0, 0, 0, false, "year 10000"},
        {2023, 0, 1, 0, 0, 0, 0, false, "month 0"},
        {2023, 13, 1, 0, 0, 0, 0, false, "month 13"},
        {2023, 1, 0, 0, 0, 0, 0, false, "day 0"},
        {2023, 1, 1, 24, 0, 0, 0, false, "hour 24"},
        {2023, 1, 1, 0, 60, 0, 0, false, "minute 60"},
        {2023, 1, 1, 0, 0, 60, 0, false, "second 60"},
        {2023, 1, 1, 0, 0, 0, 1000, false, "millisecond 1000"},
        {2023, 1, 1, -1, 0, 0, 0, false, "negative hour"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qlDateIsValid(c.year, c.month, c.day, c.hour, c.minute, c.second,
                                c.millisecond),
                  c.valid)
            << c.why;
    EXPECT_TRUE(qlDateIsLeapYear(1600));
    EXPECT_FALSE(qlDateIsLeapYear(1700));
}

TEST(Calendar, DayOfWeek)
{
    struct Case {
        int year, month, day, weekday;
    } cases[] = {
        {2026, 12, 8, 2},  // Tuesday
        {2000, 1, 1, 6},   // January counts with the year before
        {2000, 2, 29, 2},
        {1980, 1, 1, 2},   // first DOS day
        {2107, 12, 31, 6}, // last DOS day
        {1900, 3, 1, 4},   // after a century's missing leap day
        {1600, 3, 1, 3},
        {1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        QlDateTime date;
        date.Set(c.year, c.month, c.day, 12, 0, 0, 0);
        EXPECT_EQ(date.DayOfWeek(), c.weekday) << c.year << "-" << c.month << "-" << c.day;
    }
    expectNoReports();
}

TEST(Calendar, FileTimeTicks)
{
    struct Case {
        int year, month, day, hour, minute, second, millisecond;
        int64_t ticks;
    } cases[] = {
        {1601, 1, 1, 0, 0, 0, 0, 0},
        {1970, 1, 1, 0, 0, 0, 0, 116444736000000000LL},
        {2000, 2, 29, 12, 0, 0, 500, 125962992005000000LL},
        {2107, 12, 31, 23, 59, 58, 0, 159992927980000000LL},
        {9999, 12, 31, 23, 59, 59, 999, 2650467743999990000LL},
        {1, 1, 1, 0, 0, 0, 0, -504911232000000000LL},
    };
    for (const Case& c : cases) {
        QlDateTime date;
        date.Set(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond);
        EXPECT_EQ(date.ToInt64(), c.ticks) << c.year;
    }
    expectNoReports();
}

TEST(Calendar, InvalidDateBecomesNow)
{
    QlDateTime date;
    EXPECT_FALSE(date.IsSet());
    EXPECT_EQ(date.Year(), 0);

    date.Set(2023, 13, 1, 0, 0, 0, 0);
    EXPECT_TRUE(date.IsSet());
    EXPECT_TRUE(date.IsValid());
    EXPECT_GE(date.Year(), 2024);
    expectNoReports();  // repaired silently: the clock gave a valid date

    // A member that needs a date and meets none reports, then goes on with now.
    QlDateTime unset;
    int weekday = unset.DayOfWeek();
    expectOneReport(kDateDayOfWeek);
    EXPECT_TRUE(unset.IsSet());
    EXPECT_GE(weekday, 0);
    EXPECT_LE(weekday, 6);
}

TEST(DosTime, PackAndUnpack)
{
    struct Case {
        Fields in;
        bool packs;
        uint16_t date, time;
        int secondBack;
        const char* why;
    } cases[] = {
        {{1980, 1, 1, 0, 0, 0}, true, 0x0021, 0x0000, 0, "first DOS instant"},
        {{2107, 12, 31, 23, 59, 58}, true, 0xFF9F, 0xBF7D, 58, "last DOS instant"},
        {{2107, 12, 31, 23, 59, 59}, true, 0xFF9F, 0xBF7D, 58, "odd second drops to even"},
        {{2021, 6, 15, 10, 20, 31}, true, dosDate(2021, 6, 15), dosTime(10, 20, 15), 30,
         "odd second"},
        {{2000, 2, 29, 0, 0, 0}, true, dosDate(2000, 2, 29), 0, 0, "leap day"},
        {{1979, 12, 31, 23, 59, 58}, false, 0, 0, 0, "before 1980"},
        {{2108, 1, 1, 0, 0, 0}, false, 0, 0, 0, "after 2107"},
        {{1970, 1, 1, 0, 0, 0}, false, 0, 0, 0, "Unix epoch has no DOS form"},
        {{2001, 2, 29, 0, 0, 0}, false, 0, 0, 0, "no leap day in 2001"},
        {{2001, 13, 1, 0, 0, 0}, false, 0, 0, 0, "month 13"},
        {{2001, 1, 1, 24, 0, 0}, false, 0, 0, 0, "hour 24"},
        {{2001, 1, 1, 0, 0, 60}, false, 0, 0, 0, "second 60"},
    };
    for (const Case& c : cases) {
        QlDosDateTime dos(0x1234, 0x5678);
        bool packed = dos.Pack(c.in.year, c.in.month, c.in.day, c.in.hour, c.in.minute,
                               c.in.second);
        EXPECT_EQ(packed, c.packs) << c.why;
        if (!packed) {
            EXPECT_EQ(dos.Value(), 0x12345678u) << c.why << ": value unchanged";
            continue;
        }
        EXPECT_EQ(dos.Date(), c.date) << c.why;
        EXPECT_EQ(dos.Time(), c.time) << c.why;
        EXPECT_TRUE(dos.IsValid()) << c.why;
        QlDosFields back = dos.Unpack();
        EXPECT_EQ(back.year, c.in.year) << c.why;
        EXPECT_EQ(back.month, c.in.month) << c.why;
        EXPECT_EQ(back.day, c.in.day) << c.why;
        EXPECT_EQ(back.hour, c.in.hour) << c.why;
        EXPECT_EQ(back.minute, c.in.minute) << c.why;
        EXPECT_EQ(back.second, c.secondBack) << c.why;
    }
}

TEST(DosTime, StoredValuesThatAreNoDate)
{
    struct Case {
        uint16_t date, time;
        const char* why;
    } cases[] = {
        {dosDate(2020, 5, 5), dosTime(12, 0, 30), "seconds field 30 is 60 seconds"},
        {dosDate(2020, 5, 5), dosTime(12, 60, 0), "minute 60"},
        {dosDate(2020, 5, 5), dosTime(24, 0, 0), "hour 24"},
        {dosDate(2020, 0, 5), 0, "month 0"},
        {dosDate(2020, 13, 5), 0, "month 13"},
        {dosDate(2020, 5, 0), 0, "day 0"},
        {dosDate(2021, 2, 29), 0, "29 February of a common year"},
        {0, 0, "all zero: month and day 0"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(QlDosDateTime(c.date, c.time).IsValid()) << c.why;
        QlDateTime date;
        date.Set(2001, 1, 1, 0, 0, 0, 0);
        date.FromDos(c.date, c.time);
        EXPECT_FALSE(date.IsSet()) << c.why << ": left cleared";
    }
    expectNoReports();

    QlDateTime date;
    date.FromDosDateTime(QlDosDateTime(dosDate(2024, 2, 29), dosTime(23, 59, 29)));
    ASSERT_TRUE(date.IsSet());
    EXPECT_EQ(date.Year(), 2024);
    EXPECT_EQ(date.Month(), 2);
    EXPECT_EQ(date.Day(), 29);
    EXPECT_EQ(date.Hour(), 23);
    EXPECT_EQ(date.Minute(), 59);
    EXPECT_EQ(date.Second(), 58);
    EXPECT_EQ(date.Millisecond(), 0);
}

TEST(DosTime, ClampedForFileTimes)
{
    struct Case {
        uint16_t date, time;
        Fields expected;
        const char* why;
    } cases[] = {
        {dosDate(2020, 5, 5), dosTime(12, 30, 31), {2020, 5, 5, 12, 30, 58}, "seconds 62"},
        {dosDate(2020, 5, 5), dosTime(12, 63, 0), {2020, 5, 5, 12, 59, 0}, "minute 63"},
        {dosDate(2020, 5, 5), dosTime(31, 0, 0), {2020, 5, 5, 23, 0, 0}, "hour 31"},
        {dosDate(2020, 5, 0), 0, {2020, 5, 1, 0, 0, 0}, "day 0"},
        {dosDate(2020, 0, 5), 0, {2020, 1, 5, 0, 0, 0}, "month 0"},
        {dosDate(2020, 15, 5), 0, {2020, 12, 5, 0, 0, 0}, "month 15"},
        {dosDate(2001, 2, 31), 0, {2001, 2, 28, 0, 0, 0}, "31 February of a common year"},
        {dosDate(2000, 2, 30), 0, {2000, 2, 29, 0, 0, 0}, "30 February of a leap year"},
        {dosDate(2107, 12, 31), dosTime(23, 59, 29), {2107, 12, 31, 23, 59, 58}, "valid: kept"},
        {0, 0, {1980, 1, 1, 0, 0, 0}, "all zero"},
    };
    for (const Case& c : cases) {
        QlDosDateTime clamped = QlDosDateTime(c.date, c.time).Clamped();
        EXPECT_TRUE(clamped.IsValid()) << c.why;
        QlDosFields f = clamped.Unpack();
        EXPECT_EQ(f.year, c.expected.year) << c.why;
        EXPECT_EQ(f.month, c.expected.month) << c.why;
        EXPECT_EQ(f.day, c.expected.day) << c.why;
        EXPECT_EQ(f.hour, c.expected.hour) << c.why;
        EXPECT_EQ(f.minute, c.expected.minute) << c.why;
        EXPECT_EQ(f.second, c.expected.second) << c.why;
    }
}

TEST(DosTime, OutOfBoundsAndPrecision)
{
    QlDosDateTime dos;
    QlDateTime early;
    early.Set(1979, 12, 31, 23, 59, 59, 0);
    EXPECT_THROW(early.GetDosDateTime(dos), QlLib::DateOutOfBounds);
    QlDateTime late;
    late.Set(2108, 1, 1, 0, 0, 0, 0);
    EXPECT_THROW(late.GetDosDateTime(dos), QlLib::DateTimeError);

    QlDateTime exact;
    exact.Set(2021, 6, 15, 10, 20, 31, 250);
    QlDateTime rounded;
    qlDateDosPrecision(exact, rounded);
    EXPECT_EQ(rounded.Second(), 30);
    EXPECT_EQ(rounded.Millisecond(), 0);
    EXPECT_EQ(rounded.Minute(), 20);

    QlDateTime epoch;
    epoch.Set(1970, 1, 1, 0, 0, 1, 500);
    QlDateTime copied;
    qlDateDosPrecision(epoch, copied);
    EXPECT_EQ(copied.Year(), 1970);
    EXPECT_EQ(copied.Second(), 1);
    EXPECT_EQ(copied.Millisecond(), 500);
    expectNoReports();
}

TEST(DosTime, EqualAtDosPrecision)
{
    struct Case {
        Fields a, b;
        bool equal;
        const char* why;
    } cases[] = {
        {{2021, 6, 15, 10, 20, 30}, {2021, 6, 15, 10, 20, 31}, true, "same 2-second step"},
        {{2021, 6, 15, 10, 20, 31}, {2021, 6, 15, 10, 20, 32}, false, "next step"},
        {{1980, 1, 1, 0, 0, 0}, {1980, 1, 1, 0, 0, 1}, true, "first DOS step"},
        {{2107, 12, 31, 23, 59, 58}, {2107, 12, 31, 23, 59, 59}, true, "last DOS step"},
        {{1970, 1, 1, 0, 0, 0}, {1970, 1, 1, 0, 0, 1}, false, "1970 compares by full value"},
        {{1970, 1, 1, 0, 0, 0}, {1970, 1, 1, 0, 0, 0}, true, "1970, the same value"},
        {{2108, 1, 1, 0, 0, 0}, {2108, 1, 1, 0, 0, 1}, false, "after 2107 by full value"},
    };
    for (const Case& c : cases) {
        QlDateTime a, b;
        a.Set(c.a.year, c.a.month, c.a.day, c.a.hour, c.a.minute, c.a.second, 0);
        b.Set(c.b.year, c.b.month, c.b.day, c.b.hour, c.b.minute, c.b.second, 0);
        EXPECT_EQ(qlDateEqualAtDosPrecision(a, b), c.equal) << c.why;
    }
    expectNoReports();

    QlDateTime set, unset;
    set.Set(2021, 6, 15, 10, 20, 30, 0);
    EXPECT_FALSE(qlDateEqualAtDosPrecision(unset, set));
    expectOneReport(kDateEqualFirst);
    EXPECT_FALSE(qlDateEqualAtDosPrecision(set, unset));
    expectOneReport(kDateEqualSecond);
}

#ifdef _WIN32
// Our ticks and Windows' own conversions must agree.
TEST(DosTimeWin, AgreesWithWindows)
{
    struct Case {
        int year, month, day, hour, minute, second, millisecond;
    } cases[] = {
        {1601, 1, 1, 0, 0, 0, 0}, {1980, 1, 1, 0, 0, 0, 0},       {2000, 2, 29, 12, 34, 56, 789},
        {2026, 12, 8, 23, 59, 59, 999}, {2107, 12, 31, 23, 59, 58, 0}, {9999, 12, 31, 23, 59, 59, 999},
    };
    for (const Case& c : cases) {
        QlDateTime date;
        date.Set(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond);
        SYSTEMTIME system;
        date.ToSystemTime(system);
        FILETIME windows;
        ASSERT_TRUE(SystemTimeToFileTime(&system, &windows)) << c.year;
        int64_t ticks = int64_t(uint64_t(windows.dwHighDateTime) << 32 | windows.dwLowDateTime);
        EXPECT_EQ(date.ToInt64(), ticks) << c.year;
        SYSTEMTIME check;
        ASSERT_TRUE(FileTimeToSystemTime(&windows, &check));
        // The day-of-week formula keeps its - y / 4000 term, which parts from
        // the Gregorian calendar from the year 4000 on.
        if (c.year < 4000) {
            EXPECT_EQ(system.wDayOfWeek, check.wDayOfWeek) << c.year;
        }

        FILETIME ours;
        date.ToFileTime(ours);
        EXPECT_EQ(ours.dwLowDateTime, windows.dwLowDateTime);
        EXPECT_EQ(ours.dwHighDateTime, windows.dwHighDateTime);

        QlDateTime back;
        back.AssignSystemTime(check);
        EXPECT_EQ(back.ToInt64(), date.ToInt64());
    }

    // A header time as the file gets it: local time to UTC.
    QlDosDateTime dos(dosDate(2021, 6, 15), dosTime(10, 20, 15));
    FILETIME local, utc, ours;
    ASSERT_TRUE(DosDateTimeToFileTime(dos.Date(), dos.Time(), &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    ASSERT_TRUE(qlDosTimeToUtcFileTime(dos, ours));
    EXPECT_EQ(ours.dwLowDateTime, utc.dwLowDateTime);
    EXPECT_EQ(ours.dwHighDateTime, utc.dwHighDateTime);
    expectNoReports();
}
#endif
