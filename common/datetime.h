// QlDateTime: a validated calendar date and time of day (local time).
//
// Invalid dates never survive a setter: they are replaced by the current local
// time, and an assertion report (source "datetime") is made only when even
// that fails. Members that need a valid date report when they meet an unset
// or invalid one, repair it and go on.
//
// The calendar arithmetic (validity, day of week, DOS form, FILETIME ticks) is
// pure code; SYSTEMTIME/FILETIME conversions and the clock live in
// datetimeWin.cpp (datetimeNative.cpp natively).
#pragma once

#include <cstdint>

#include "common/dostime.h"

#ifdef _WIN32
struct _SYSTEMTIME;
struct _FILETIME;
#endif

namespace QlLib {
// The library's own date exceptions.
class DateTimeError {};
class DateOutOfBounds : public DateTimeError {};  // the date has no DOS form
}

// Lines named in the reports of the datetime source.
enum QlDateTimeLine {
    kDateFromSystemTime = 73,
    kDateSet = 94,
    kDateFromDos = 146,
    kDateFromDosDateTime = 162,
    kDateAssign = 242,
    kDateAssignSystemTime = 252,
    kDateSetNow = 294,
    kDateDayOfWeek = 403,
    kDateToInt64 = 419,
    kDateToSystemTime = 436,
    kDateToFileTimeValid = 454,
    kDateToFileTime = 458,
    kDateDosValid = 466,
    kDateDosConvert = 471,
    kDateRepair = 557,
    kDateEqualFirst = 848,
    kDateEqualSecond = 850,
};

bool qlDateIsLeapYear(int year);
// Days of a month 1-12 of a year (0 for another month).
int qlDateDaysInMonth(int year, int month);
bool qlDateIsValid(int year, int month, int day, int hour, int minute, int second,
                   int millisecond);

#pragma pack(push, 1)
class QlDateTime {
public:
    QlDateTime() { Clear(); }

    void Clear();
    void Set(int year, int month, int day, int hour, int minute, int second, int millisecond);
    void Assign(const QlDateTime& other);
    void SetNow();  // local time
    // Replaces the date by the current local time; reports `line` when even
    // that gives no valid date.
    void Repair(int line = kDateRepair);
    void FromDos(uint16_t date, uint16_t time);
    void FromDosDateTime(const QlDosDateTime& dos);

    bool IsSet() const { return m_set != 0; }
    bool IsValid() const;
    int Year() const { return m_year; }
    int Month() const { return m_month; }
    int Day() const { return m_day; }
    int Hour() const { return m_hour; }
    int Minute() const { return m_minute; }
    int Second() const { return m_second; }
    int Millisecond() const { return m_millisecond; }

    int DayOfWeek();  // 0 = Sunday
    // The date as FILETIME ticks (100 ns since 1 January 1601); earlier
    // years give negative values.
    int64_t ToInt64();
    // Throws QlLib::DateOutOfBounds for a date before 1980 or after 2107.
    void GetDosDateTime(QlDosDateTime& out);

#ifdef _WIN32
    void FromSystemTime(const _SYSTEMTIME& time);
    void AssignSystemTime(const _SYSTEMTIME& time);
    void ToSystemTime(_SYSTEMTIME& out);
    void ToFileTime(_FILETIME& out);
#endif

private:
    // Reports `line` and repairs when the date is unset or invalid.
    void RequireValid(int line);
    static int64_t TicksOf(int year, int month, int day, int hour, int minute, int second,
                           int millisecond);

    uint8_t m_set;
    int32_t m_year, m_month, m_day, m_hour, m_minute, m_second, m_millisecond;
};
#pragma pack(pop)
static_assert(sizeof(QlDateTime) == 29, "the date record is packed");

// The date converted to its DOS form and back (2-second steps, no
// milliseconds); a date without DOS form is copied unchanged.
void qlDateDosPrecision(QlDateTime& date, QlDateTime& out);
// Both dates at DOS precision compare equal as FILETIME values. An invalid
// argument is reported (and compares unequal).
bool qlDateEqualAtDosPrecision(QlDateTime& a, QlDateTime& b);

#ifdef _WIN32
// The FILETIME (UTC) to give an extracted file from its header's DOS date and
// time, which are local time: fields clamped as QlDosDateTime::Clamped does.
// False when Windows cannot convert it.
bool qlDosTimeToUtcFileTime(const QlDosDateTime& dos, _FILETIME& out);
#endif
