// The texts behind deletion at restart: the "[rename]" lines of
// "wininit.ini" and the operations of "PendingFileRenameOperations".
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "builder/setup/delexelines.h"
#include "tests/support/TextShow.h"

namespace {

std::string Joined(const WininitLines& lines)
{
    std::string all;
    for (const std::string& line : lines)
        all += line;
    return all;
}

// The units of a value made of these strings, each with its terminator,
// and the final terminator when asked for.
std::vector<uint16_t> Value(std::initializer_list<const char16_t*> strings, bool final_nul)
{
    std::vector<uint16_t> units;
    for (const char16_t* s : strings) {
        for (; *s; ++s)
            units.push_back(uint16_t(*s));
        units.push_back(0);
    }
    if (final_nul)
        units.push_back(0);
    return units;
}

std::string Shown(const PendingOperations& operations)
{
    std::string out;
    for (const PendingOperation& op : operations)
        out += qlShowText(op.source) + ">" + qlShowText(op.target) + ";";
    return out;
}

TEST(WininitLines, ScheduleAndCancel)
{
    struct Case {
        const char* what;
        WininitLines before;
        std::string path, folder;
        bool schedule;
        std::string after;
        bool cancelled;
    } cases[] = {
        {"no section: it is put at the top, the file's lines follow",
         {"[boot]\n", "x=1\n"}, "D:\\Prog\\App\\x.exe", "D:\\Prog\\App", true,
         "[rename]\nnul=D:\\Prog\\App\\x.exe\nnul=D:\\Prog\\App\n[boot]\nx=1\n", true},
        {"an empty file", {}, "C:\\a.exe", "", true, "[rename]\nnul=C:\\a.exe\n", true},
        {"a later entry stands directly below the section line",
         {"[Rename]\n", "nul=C:\\old.exe\n"}, "C:\\new.exe", "", true,
         "[Rename]\nnul=C:\\new.exe\nnul=C:\\old.exe\n", true},
        {"the section is found below others and without case",
         {"[boot]\n", "[RENAME]\n", "a=b\n"}, "C:\\n.exe", "C:\\F", true,
         "[boot]\n[RENAME]\nnul=C:\\n.exe\nnul=C:\\F\na=b\n", true},
        {"cancel takes the file and the folder, whole lines only, without case",
         {"[boot]\n", "[rename]\n", "NUL=c:\\prog\\app\\x.exe\n", "nul=D:\\Other\n",
          "nul=C:\\Prog\\App\\x.exe.bak\n", "nul=C:\\Prog\\App\n", "nul=C:\\Prog\\App\\x.exe"},
         "C:\\Prog\\App\\x.exe", "C:\\Prog\\App", false,
         "[boot]\n[rename]\nnul=D:\\Other\nnul=C:\\Prog\\App\\x.exe.bak\nnul=C:\\Prog\\App\\x.exe", true},
        {"lines above the section stay", {"nul=C:\\x.exe\n", "[rename]\n", "nul=C:\\x.exe\n"},
         "C:\\x.exe", "", false, "nul=C:\\x.exe\n[rename]\n", true},
        {"no section: nothing changes", {"[boot]\n", "nul=C:\\x.exe\n"}, "C:\\x.exe", "", false,
         "[boot]\nnul=C:\\x.exe\n", false},
    };
    for (Case& c : cases) {
        WininitLines lines = c.before;
        bool done = true;
        if (c.schedule)
            wininit_schedule(lines, c.path, c.folder);
        else
            done = wininit_cancel(lines, c.path, c.folder);
        EXPECT_EQ(Joined(lines), c.after) << c.what;
        EXPECT_EQ(done, c.cancelled) << c.what;
    }
}

TEST(RestartFolders, ContainingFolderAndRoots)
{
    struct Case {
        const QlChar* path;
        const char* folder;
        bool root;
    } cases[] = {
        {QL("D:\\Prog\\App\\x.exe"), "D:\\Prog\\App", false},
        {QL("D:\\x.exe"), "D:", true},  // a file in a drive's root never takes the root along
        {QL("x.exe"), "", true},
        {QL(""), "", true},
        {QL("\\\\srv\\share\\dir\\x.exe"), "\\\\srv\\share\\dir", false},
    };
    for (const Case& c : cases) {
        QlStr folder = restart_containing_folder(QlStr(c.path));
        EXPECT_EQ(qlShowText(folder), c.folder) << qlShowText(QlStr(c.path));
        EXPECT_EQ(restart_is_root(folder), c.root) << c.folder;
    }
    EXPECT_TRUE(restart_is_root(QlStr(QL("d:\\"))));
    EXPECT_TRUE(restart_is_root(QlStr(QL("D:/"))));
    EXPECT_FALSE(restart_is_root(QlStr(QL("D:\\Prog"))));
}

TEST(PendingOperations, SplitCancelAndJoin)
{
    // As Windows and Wine record them: pairs, a final terminator behind.
    std::vector<uint16_t> units =
        Value({u"\\??\\C:\\Other\\a.tmp", u"", u"\\??\\D:\\Prog\\App\\x.exe", u"",
               u"\\??\\C:\\old.txt", u"!\\??\\C:\\new.txt", u"\\??\\D:\\Prog\\App", u""},
              true);
    PendingOperations ops = split_pending_operations(units.data(), units.size());
    EXPECT_EQ(Shown(ops), "\\??\\C:\\Other\\a.tmp>;\\??\\D:\\Prog\\App\\x.exe>;"
                          "\\??\\C:\\old.txt>!\\??\\C:\\new.txt;\\??\\D:\\Prog\\App>;");
    // Without case and with either slash; the others keep their order.
    EXPECT_EQ(cancel_pending_operations(ops, QlStr(QL("d:/prog/app/X.EXE")), QlStr(QL("D:\\Prog\\App"))), 2);
    EXPECT_EQ(Shown(ops), "\\??\\C:\\Other\\a.tmp>;\\??\\C:\\old.txt>!\\??\\C:\\new.txt;");
    // A path with no entry removes nothing.
    EXPECT_EQ(cancel_pending_operations(ops, QlStr(QL("E:\\none.exe")), QlStr()), 0);
    QlStringList strings;
    pending_operation_strings(ops, strings);
    std::string joined;
    for (const QlListNode* n = strings.Head(); n; n = n->Next())
        joined += qlShowText(n->Text()) + "|";
    EXPECT_EQ(joined, "\\??\\C:\\Other\\a.tmp||\\??\\C:\\old.txt|!\\??\\C:\\new.txt|");

    // The last deletion without the final terminator; an empty value.
    units = Value({u"\\??\\C:\\x", u""}, false);
    EXPECT_EQ(Shown(split_pending_operations(units.data(), units.size())), "\\??\\C:\\x>;");
    units = Value({}, true);
    EXPECT_TRUE(split_pending_operations(units.data(), units.size()).empty());
}

}  // namespace
