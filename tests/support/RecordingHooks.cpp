#include "tests/support/RecordingHooks.h"

#include "common/QlHooks.h"

namespace {
std::vector<QlHookReport>& reports()
{
    static std::vector<QlHookReport> list;
    return list;
}
}

void qlHostAssert(const char* source, int line)
{
    reports().push_back({QlHookReport::Assert, source ? source : "", line});
}

void qlHostWin32Error(const char* source, int line)
{
    reports().push_back({QlHookReport::Win32Error, source ? source : "", line});
}

std::vector<QlHookReport> qlTakeHookReports()
{
    std::vector<QlHookReport> taken;
    taken.swap(reports());
    return taken;
}
