// The shared message box style, the error list's string list and the file
// wrapper.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BuilderTestFiles.h"
#include "common/QlMisc.h"
#include "tests/support/RecordingHooks.h"

namespace {

std::vector<std::wstring> g_boxes;

int record_box(int, HWND, const QlStr& text, const QlStr&, UINT)
{
    g_boxes.push_back(text.Text() ? text.Text() : L"");
    return IDOK;
}

TEST(QlMiscMessageBox, StyleOfTheBox)
{
    const struct { int help; UINT flags; UINT style; } cases[] = {
        {0, MB_SYSTEMMODAL | MB_OK, MB_TOPMOST | MB_SETFOREGROUND},
        {1, MB_HELP | MB_YESNO, MB_YESNO | MB_SETFOREGROUND},  // id 1: no Help button
        {120, MB_ICONERROR, MB_ICONERROR | MB_HELP | MB_SETFOREGROUND},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qlMiscMessageBoxStyle(c.help, c.flags), c.style) << c.help;
}

TEST(QlMiscMessageBox, LastErrorGoesToTheHookAndTheList)
{
    qlMiscSetMessageBoxHook(record_box);
    g_boxes.clear();
    SetLastError(0);
    qlMiscReportLastError();
    EXPECT_TRUE(g_boxes.empty());
    SetLastError(ERROR_FILE_NOT_FOUND);
    qlMiscReportLastError();
    ASSERT_EQ(g_boxes.size(), 1u);
    ASSERT_NE(qlMiscErrorList().Tail(), nullptr);
    EXPECT_EQ(std::wstring(qlMiscErrorList().Tail()->Text().Text()), g_boxes[0]);
    qlMiscSetMessageBoxHook(nullptr);
}

TEST(QlStringListTest, AddKeepsOrder)
{
    QlStringList list;
    list.AddTail(QlStr(L"one"));
    ASSERT_NE(list.Head(), nullptr);
    EXPECT_EQ(list.Head(), list.Tail());
    list.AddTail(QlStr(L"two"));
    list.AddHead(QlStr(L"zero"));
    std::vector<std::wstring> texts;
    for (QlListNode* n = list.Head(); n; n = n->Next())
        texts.push_back(n->Text().Text());
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"zero", L"one", L"two"}));
    list.RemoveAll();
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Tail(), nullptr);
}

TEST(QlFileTest, WriteCountsTheLineEndAndChecksItsState)
{
    TestFolder folder;
    QlFile file(QlStr(folder.Path(L"f.txt").c_str()));
    DWORD count = 0;
    EXPECT_FALSE(file.Read(&count, 4, &count));  // closed
    ASSERT_TRUE(file.CreateAlways());
    EXPECT_FALSE(file.CreateAlways());  // already open
    file.SetAppendCrLf(true);
    EXPECT_TRUE(file.Write("abc", 3, &count));
    EXPECT_EQ(count, 5u);
    file.SetWriteRefused(true);
    EXPECT_FALSE(file.Write("x", 1, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(file.Seek(0, FILE_END), 5u);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    std::vector<int> lines;
    for (const QlHookReport& r : qlTakeHookReports()) {
        EXPECT_EQ(r.source, "misc");
        lines.push_back(r.line);
    }
    EXPECT_EQ(lines, (std::vector<int>{kMiscReadClosed, kMiscCreateTwice}));
}

TEST(QlMiscFolders, DesktopHasAPath)
{
    QlStr desktop;
    ASSERT_TRUE(qlMiscGetSpecialFolderPath(desktop, CSIDL_DESKTOP));
    EXPECT_NE(GetFileAttributesW(desktop.Text()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
