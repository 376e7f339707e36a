// QlStringList: adding, the cursor, and removing at either end and at the
// cursor.
#include <gtest/gtest.h>

#include <string>

#include "common/QlList.h"
#include "tests/support/TextShow.h"

namespace {

std::string Listed(const QlStringList& list)
{
    std::string out;
    for (const QlListNode* n = list.Head(); n; n = n->Next())
        out += qlShowText(n->Text()) + ",";
    return out;
}

void Fill(QlStringList& list, std::initializer_list<const QlChar*> texts)
{
    for (const QlChar* t : texts)
        list.AddTail(QlStr(t));
}

TEST(QlStringList, CursorWalksAndStopsAtTheTail)
{
    QlStringList list;
    EXPECT_TRUE(list.Next().IsNull());
    Fill(list, {QL("a"), QL("b")});
    EXPECT_EQ(qlShowText(list.Next()), "a");
    EXPECT_EQ(qlShowText(list.Next()), "b");
    EXPECT_EQ(qlShowText(list.Next()), "b");
    EXPECT_TRUE(list.ReplaceAtCursor(QlStr(QL("B"))));
    list.ResetCursor();
    EXPECT_FALSE(list.ReplaceAtCursor(QlStr(QL("x"))));
    EXPECT_EQ(Listed(list), "a,B,");
    EXPECT_EQ(list.Count(), 2);
}

TEST(QlStringList, Removing)
{
    struct Case {
        const char* what;
        int steps;  // how often Next() is called before the removal
        void (QlStringList::*remove)();
        const char* after;
        const char* cursor;  // the cursor's text afterwards, "" when unset
    } cases[] = {
        {"at an unset cursor: the head", 0, &QlStringList::RemoveAtCursor, "b,c,", ""},
        {"at the head: the cursor is unset", 1, &QlStringList::RemoveAtCursor, "b,c,", ""},
        {"in the middle: the cursor goes back", 2, &QlStringList::RemoveAtCursor, "a,c,", "a"},
        {"at the tail: the one before is the tail", 3, &QlStringList::RemoveAtCursor, "a,b,", "b"},
        {"the head keeps a cursor elsewhere", 2, &QlStringList::RemoveHead, "b,c,", "b"},
        {"the tail under the cursor", 3, &QlStringList::RemoveTail, "a,b,", "b"},
    };
    for (const Case& c : cases) {
        QlStringList list;
        Fill(list, {QL("a"), QL("b"), QL("c")});
        for (int i = 0; i < c.steps; ++i)
            list.Next();
        (list.*c.remove)();
        EXPECT_EQ(Listed(list), c.after) << c.what;
        EXPECT_EQ(list.Cursor() ? qlShowText(list.Cursor()->Text()) : "", c.cursor) << c.what;
        list.AddTail(QlStr(QL("z")));
        EXPECT_EQ(qlShowText(list.Tail()->Text()), "z") << c.what;
    }
    QlStringList one;
    Fill(one, {QL("only")});
    one.Next();
    one.RemoveTail();
    EXPECT_TRUE(one.IsEmpty());
    EXPECT_EQ(one.Tail(), nullptr);
    EXPECT_EQ(one.Cursor(), nullptr);
    one.RemoveAtCursor();
    one.RemoveHead();
    EXPECT_EQ(one.Count(), 0);
}

}  // namespace
