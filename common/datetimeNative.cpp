// The clock of the date code for native builds of the pure code.
#include <ctime>

#include "common/datetime.h"

void QlDateTime::SetNow()
{
    Clear();
    std::time_t now = std::time(nullptr);
    std::tm local;
    if (localtime_r(&now, &local) == nullptr)
        return;
    m_set = 1;
    m_year = local.tm_year + 1900;
    m_month = local.tm_mon + 1;
    m_day = local.tm_mday;
    m_hour = local.tm_hour;
    m_minute = local.tm_min;
    m_second = local.tm_sec > 59 ? 59 : local.tm_sec;  // leap second
    m_millisecond = 0;
}
