#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/memory.h"
#include "tests/support/RecordingHooks.h"

namespace {
std::vector<unsigned> g_helpContexts;
}

void qlHostShowHelpContext(void*, unsigned context)
{
    g_helpContexts.push_back(context);
}

TEST(Memory, StrDupAndFree)
{
    char* copy = qlMemStrDup("Quolla");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "Quolla");
    qlMemFree(copy);
    EXPECT_EQ(copy, nullptr);

    EXPECT_EQ(qlMemStrDup(nullptr), nullptr);
    char* empty = qlMemStrDup("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(*empty, '\0');
    qlMemFree(empty);
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(Memory, HelpByTypeMapsTopicTypes)
{
    g_helpContexts.clear();
    for (int type : {2, 3, 4, 1, 5, 4711})
        qlHelpByType(nullptr, type);
    EXPECT_EQ(g_helpContexts, (std::vector<unsigned>{894, 896, 898, 1, 5, 4711}));
}
