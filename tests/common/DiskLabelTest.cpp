// The spanned set's volume labels: what the helper library writes, the stub
// and the builder read back (the reading table itself is the stub host's).
#include <gtest/gtest.h>

#include "common/QlString.h"
#include "common/disklabel.h"

namespace {

TEST(SpanDiskLabel, WritesWhatReadsBackInElevenCharacters)
{
    QlChar label[12];
    for (int disk = 1; disk <= 999; ++disk) {
        ASSERT_TRUE(qlSpanDiskLabel(disk, label));
        ASSERT_EQ(11, QlStr(label).Length());
        ASSERT_EQ(disk, qlSpanDiskFromLabel(label));
    }
    ASSERT_TRUE(qlSpanDiskLabel(7, label));
    EXPECT_TRUE(QlStr(label) == QlStr(QL("PKBACK# 007")));
    EXPECT_FALSE(qlSpanDiskLabel(0, label));
    EXPECT_FALSE(qlSpanDiskLabel(1000, label));
    // The reader's edges in its own unit: -1, not a disk.
    EXPECT_EQ(-1, qlSpanDiskFromLabel(QL("PKBACK#")));
    EXPECT_EQ(-1, qlSpanDiskFromLabel(QL("PKBACK# 65535")));
    EXPECT_EQ(65534, qlSpanDiskFromLabel(QL("PKBACK# 65534")));
    EXPECT_EQ(0, qlSpanDiskFromLabel(QL("PKBACK# 000")));
}

}  // namespace
