#include "common/datetime.h"

#include "common/QlHooks.h"
#include "common/QlRaise.h"

namespace {
const char kSource[] = "datetime";
const int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Days from 1 January 1601 (day 0) to the given date of the proleptic
// Gregorian calendar; negative before.
int64_t daysFrom1601(int year, int month, int day)
{
    int64_t y = year - (month < 3 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // era * 146097 + doe counts from 1 March of year 0; 1 January 1601 is day
    // 584694 of that count.
    return era * 146097 + doe - 584694;
}
}

bool qlDateIsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int qlDateDaysInMonth(int year, int month)
{
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && qlDateIsLeapYear(year) ? 29 : kDaysPerMonth[month - 1];
}

bool qlDateIsValid(int year, int month, int day, int hour, int minute, int second,
                   int millisecond)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1
           && day <= qlDateDaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0
           && minute <= 59 && second >= 0 && second <= 59 && millisecond >= 0
           && millisecond <= 999;
}

void QlDateTime::Clear()
{
    m_set = 0;
    m_year = m_month = m_day = m_hour = m_minute = m_second = m_millisecond = 0;
}

bool QlDateTime::IsValid() const
{
    return qlDateIsValid(m_year, m_month, m_day, m_hour, m_minute, m_second, m_millisecond);
}

void QlDateTime::Set(int year, int month, int day, int hour, int minute, int second,
                     int millisecond)
{
    m_set = 1;
    m_year = year;
    m_month = month;
    m_day = day;
    m_hour = hour;
    m_minute = minute;
    m_second = second;
    m_millisecond = millisecond;
    if (!IsValid())
        Repair(kDateSet);
}

void QlDateTime::Assign(const QlDateTime& other)
{
    m_set = other.m_set;
    m_year = other.m_year;
    m_month = other.m_month;
    m_day = other.m_day;
    m_hour = other.m_hour;
    m_minute = other.m_minute;
    m_second = other.m_second;
    m_millisecond = other.m_millisecond;
    if (IsSet() && !IsValid())
        Repair(kDateAssign);
}

void QlDateTime::Repair(int line)
{
    SetNow();
    if (!IsSet() || !IsValid())
        qlHostAssert(kSource, line);
}

void QlDateTime::RequireValid(int line)
{
    if (IsSet() && IsValid())
        return;
    qlHostAssert(kSource, line);
    Repair(line);
}

void QlDateTime::FromDos(uint16_t date, uint16_t time)
{
    Clear();
    QlDosDateTime dos(date, time);
    if (!dos.IsValid())
        return;
    QlDosFields f = dos.Unpack();
    Set(f.year, f.month, f.day, f.hour, f.minute, f.second, 0);
}

void QlDateTime::FromDosDateTime(const QlDosDateTime& dos)
{
    FromDos(dos.Date(), dos.Time());
}

int QlDateTime::DayOfWeek()
{
    RequireValid(kDateDayOfWeek);
    int m = (m_month + 9) % 12;
    int y = m_year - (m_month < 3 ? 1 : 0);
    // The - y / 4000 term belongs to this formula; it keeps its answers.
    int w = m_day + (26 * m + 25) / 10 + y % 100 + (y % 100) / 4 + 5 * (y / 100) + y / 400
            - y / 4000;
    return w % 7;
}

int64_t QlDateTime::TicksOf(int year, int month, int day, int hour, int minute, int second,
                            int millisecond)
{
    int64_t seconds = daysFrom1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return seconds * 10000000 + int64_t(millisecond) * 10000;
}

int64_t QlDateTime::ToInt64()
{
    RequireValid(kDateToInt64);
    return TicksOf(m_year, m_month, m_day, m_hour, m_minute, m_second, m_millisecond);
}

void QlDateTime::GetDosDateTime(QlDosDateTime& out)
{
    RequireValid(kDateDosValid);
    QlDosDateTime dos;
    if (!dos.Pack(m_year, m_month, m_day, m_hour, m_minute, m_second))
        qlRaise(QlLib::DateOutOfBounds());
    out = dos;
}

void qlDateDosPrecision(QlDateTime& date, QlDateTime& out)
{
    qlCatch<QlLib::DateOutOfBounds>(
        [&] {
            QlDosDateTime dos;
            date.GetDosDateTime(dos);
            out.FromDosDateTime(dos);
        },
        [&](const QlLib::DateOutOfBounds&) { out.Assign(date); });
}

bool qlDateEqualAtDosPrecision(QlDateTime& a, QlDateTime& b)
{
    if (!qlCheck(a.IsSet() && a.IsValid(), kSource, kDateEqualFirst))
        return false;
    if (!qlCheck(b.IsSet() && b.IsValid(), kSource, kDateEqualSecond))
        return false;
    QlDateTime left, right;
    qlDateDosPrecision(a, left);
    qlDateDosPrecision(b, right);
    return left.ToInt64() == right.ToInt64();
}
