#include "common/QlRaise.h"

#if !QL_EXCEPTIONS

#include <cstdlib>

#include "common/QlHooks.h"

namespace {
const char kSource[] = "QlRaise";
enum : int {
    kLineNoRecoveryPoint = 30,  // a raise with no recovery point to take it
    kLineOutOfOrder = 31,       // a point left that is not the innermost
};

QlRecoveryPoint* g_innermost = nullptr;
}  // namespace

inline namespace QlRaiseReturns {

void qlPushRecoveryPoint(QlRecoveryPoint* point)
{
    point->outer = g_innermost;
    g_innermost = point;
}

void qlPopRecoveryPoint(QlRecoveryPoint* point)
{
    if (!qlCheck(g_innermost == point, kSource, kLineOutOfOrder))
        std::abort();
    g_innermost = point->outer;
}

void qlRaiseTo(const QlRaised& raised)
{
    QlRecoveryPoint* point = g_innermost;
    if (point == nullptr) {
        qlHostAssert(kSource, kLineNoRecoveryPoint);
        std::abort();
    }
    g_innermost = point->outer;
    point->raised = raised;
    longjmp(point->context, 1);
}

}  // namespace QlRaiseReturns

#endif
