#include "common/dostime.h"

#include "common/datetime.h"

QlDosFields QlDosDateTime::Unpack() const
{
    QlDosFields f;
    f.year = int(m_value >> 25) + kFirstYear;
    f.month = int(m_value >> 21 & 0x0F);
    f.day = int(m_value >> 16 & 0x1F);
    f.hour = int(m_value >> 11 & 0x1F);
    f.minute = int(m_value >> 5 & 0x3F);
    f.second = int(m_value & 0x1F) * 2;
    return f;
}

bool QlDosDateTime::IsValid() const
{
    QlDosFields f = Unpack();
    return qlDateIsValid(f.year, f.month, f.day, f.hour, f.minute, f.second, 0);
}

bool QlDosDateTime::Pack(int year, int month, int day, int hour, int minute, int second)
{
    if (year < kFirstYear || year > kLastYear
        || !qlDateIsValid(year, month, day, hour, minute, second, 0))
        return false;
    uint32_t date = uint32_t(year - kFirstYear) << 9 | uint32_t(month) << 5 | uint32_t(day);
    uint32_t time = uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
    m_value = date << 16 | time;
    return true;
}

QlDosDateTime QlDosDateTime::Clamped() const
{
    QlDosFields f = Unpack();
    if (f.second > 58)
        f.second = 58;
    if (f.minute > 59)
        f.minute = 59;
    if (f.hour > 23)
        f.hour = 23;
    if (f.month < 1)
        f.month = 1;
    if (f.month > 12)
        f.month = 12;
    int last = qlDateDaysInMonth(f.year, f.month);
    if (f.day < 1)
        f.day = 1;
    if (f.day > last)
        f.day = last;
    QlDosDateTime result;
    // Every field is now in range and the year is one of the 128 DOS years.
    result.Pack(f.year, f.month, f.day, f.hour, f.minute, f.second);
    return result;
}
