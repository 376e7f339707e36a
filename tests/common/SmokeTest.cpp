#include <gtest/gtest.h>
#include "common/QlTypes.h"

TEST(Smoke, TextUnitsAreUtf16)
{
    const QlChar text[] = QL("ab");
    EXPECT_EQ(sizeof(text), 6u);
}
