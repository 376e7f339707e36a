// The Win32 side of the date code: SYSTEMTIME and FILETIME, the clock, and
// local time to UTC.
#include <windows.h>

#include "common/QlHooks.h"
#include "common/datetime.h"

namespace {
const char kSource[] = "datetime";
}

void QlDateTime::SetNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    Clear();
    m_set = 1;
    m_year = now.wYear;
    m_month = now.wMonth;
    m_day = now.wDay;
    m_hour = now.wHour;
    m_minute = now.wMinute;
    m_second = now.wSecond;
    m_millisecond = now.wMilliseconds;
    if (!IsValid()) {
        qlHostAssert(kSource, kDateSetNow);
        Clear();
    }
}

void QlDateTime::FromSystemTime(const SYSTEMTIME& time)
{
    m_set = 1;
    m_year = time.wYear;
    m_month = time.wMonth;
    m_day = time.wDay;
    m_hour = time.wHour;
    m_minute = time.wMinute;
    m_second = time.wSecond;
    m_millisecond = time.wMilliseconds;
    if (!IsValid())
        Repair(kDateFromSystemTime);
}

void QlDateTime::AssignSystemTime(const SYSTEMTIME& time)
{
    QlDateTime temporary;
    temporary.FromSystemTime(time);
    Assign(temporary);
}

void QlDateTime::ToSystemTime(SYSTEMTIME& out)
{
    RequireValid(kDateToSystemTime);
    out.wYear = WORD(m_year);
    out.wMonth = WORD(m_month);
    out.wDay = WORD(m_day);
    out.wHour = WORD(m_hour);
    out.wMinute = WORD(m_minute);
    out.wSecond = WORD(m_second);
    out.wMilliseconds = WORD(m_millisecond);
    out.wDayOfWeek = WORD(DayOfWeek());
}

void QlDateTime::ToFileTime(FILETIME& out)
{
    RequireValid(kDateToFileTimeValid);
    SYSTEMTIME system;
    ToSystemTime(system);
    if (!SystemTimeToFileTime(&system, &out)) {
        qlHostAssert(kSource, kDateToFileTime);
        out.dwLowDateTime = out.dwHighDateTime = 0;
    }
}

bool qlDosTimeToUtcFileTime(const QlDosDateTime& dos, FILETIME& out)
{
    QlDosFields f = dos.Clamped().Unpack();
    QlDateTime date;
    date.Set(f.year, f.month, f.day, f.hour, f.minute, f.second, 0);
    // Our own ticks, not DosDateTimeToFileTime: the clamped value is always
    // a real date, and Wine and Windows disagree at the range ends.
    int64_t ticks = date.ToInt64();
    FILETIME local;
    local.dwLowDateTime = DWORD(uint64_t(ticks));
    local.dwHighDateTime = DWORD(uint64_t(ticks) >> 32);
    return LocalFileTimeToFileTime(&local, &out) != 0;
}
