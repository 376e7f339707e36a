// QlFileFind and the file-system conversions of QlFileId on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/fileid.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"
#include "tests/win/WinTempFolder.h"

namespace {

std::string Show(const QlStr& s)
{
    return qlShowText(s);
}

std::string Show(const std::wstring& s)
{
    return qlShowText(s.c_str(), int(s.size()));
}

// a.txt (5 bytes), b.txt (read-only), Sub (a folder) with MixedCase.Txt,
// "Sub Folder" with "Long File Name.text".
class FileIdWin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.MakeFile(L"a.txt", "hello"));
        ASSERT_TRUE(dir.MakeFile(L"b.txt", "", FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(dir.MakeDir(L"Sub"));
        ASSERT_TRUE(dir.MakeFile(L"Sub\\MixedCase.Txt"));
        ASSERT_TRUE(dir.MakeDir(L"Sub Folder"));
        ASSERT_TRUE(dir.MakeFile(L"Sub Folder\\Long File Name.text"));
        qlTakeHookReports();
    }

    QlStr P(const std::wstring& relative) const { return QlStr((dir / relative).c_str()); }

    WinTempFolder dir;
};

std::string Enumerate(const QlStr& pattern, uint32_t required, uint32_t excluded, uint32_t skipDots)
{
    QlFileFind find(pattern, required, excluded, skipDots);
    std::vector<std::string> names;
    QlStr name;
    while (find.Next(name))
        names.push_back(Show(name));
    EXPECT_EQ(Show(name), "") << "the name is emptied at the end";
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& n : names)
        joined += n + ";";
    return joined;
}

TEST_F(FileIdWin, FindFiltersByAttributes)
{
    const struct {
        const wchar_t* pattern;
        uint32_t required, excluded, skipDots;
        const char* names;
    } cases[] = {
        {L"*", 255, 0, 1, "Sub;Sub Folder;a.txt;b.txt;"},
        {L"*", 255, 0, 0, ".;..;Sub;Sub Folder;a.txt;b.txt;"},
        {L"*", FILE_ATTRIBUTE_DIRECTORY, 0, 1, "Sub;Sub Folder;"},
        {L"*", 255, FILE_ATTRIBUTE_DIRECTORY, 1, "a.txt;b.txt;"},
        {L"*", FILE_ATTRIBUTE_READONLY, 0, 1, "b.txt;"},
        {L"*.txt", 255, FILE_ATTRIBUTE_READONLY, 1, "a.txt;"},
        // dot entries ignore the masks; a required mask of 0 takes nothing else
        {L"*", 0, 0xFF, 0, ".;..;"},
        {L"*", 0, 0, 1, ""},
        {L"none*", 255, 0, 1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Enumerate(P(c.pattern), c.required, c.excluded, c.skipDots), c.names)
            << Show(std::wstring(c.pattern)) << " " << c.required << "/" << c.excluded;
    }
    EXPECT_EQ(Enumerate(QlStr(L""), 255, 0, 0), "") << "an empty pattern";
    EXPECT_EQ(qlShowReports(), "");
}

TEST_F(FileIdWin, FindReadsTheEntry)
{
    QlFileFind find(P(L"a.txt"));
    EXPECT_FALSE(find.LastWriteTime().IsSet());
    EXPECT_EQ(qlShowReports(), "assert fileid:803;") << "times before the first entry";
    QlStr name;
    ASSERT_TRUE(find.Next(name));
    EXPECT_EQ(Show(name), "a.txt");
    EXPECT_EQ(find.Size(), 5u);
    EXPECT_FALSE(find.IsDirectory());
    EXPECT_EQ(Show(find.ShortName()), "A.TXT");
    EXPECT_TRUE(find.LastWriteTime().IsSet());
    EXPECT_GE(find.LastWriteTime().Year(), 2020);
    EXPECT_FALSE(find.Next(name));
    EXPECT_FALSE(find.Next(name)) << "stays at the end";
    EXPECT_EQ(qlShowReports(), "");
}

TEST_F(FileIdWin, FindOnDiskName)
{
    const struct {
        std::wstring pattern;
        const char* name;
    } cases[] = {
        {L"sub", "Sub"},
        {L"SUB\\mixedcase.txt", "MixedCase.Txt"},
        {L"sub\\*.TXT", "MixedCase.Txt"},
        {L"Missing.Dat", "Missing.Dat"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Show(QlFileId::FindOnDiskName(P(c.pattern))), c.name) << Show(c.pattern);
}

TEST_F(FileIdWin, MakeLongPathSpellsElementsAsOnDisk)
{
    const struct {
        std::wstring given;
        std::wstring expected;
    } cases[] = {
        {L"sub\\mixedcase.txt", L"Sub\\MixedCase.Txt"},
        {L"SUB FOLDER\\LONG FILE NAME.TEXT", L"Sub Folder\\Long File Name.text"},
        {L"sub\\*.txt", L"Sub\\*.txt"},
        {L"sub\\..\\A.TXT", L"Sub\\..\\a.txt"},
        {L"sub\\.\\missing.dat", L"Sub\\.\\missing.dat"},
        {L"sub\\", L"Sub\\"},
    };
    for (const auto& c : cases) {
        QlFileId id(P(c.given));
        ASSERT_TRUE(id.IsSet()) << Show(c.given);
        EXPECT_TRUE(id.MakeLongPath()) << Show(c.given);
        EXPECT_EQ(Show(id.GetPath()), Show(dir / c.expected));
    }
    EXPECT_EQ(qlShowReports(), "");
}

bool IsShortElement(const std::string& element)
{
    size_t dot = element.find('.');
    std::string base = element.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : element.substr(dot + 1);
    return !base.empty() && base.size() <= 8 && ext.size() <= 3 &&
           ext.find('.') == std::string::npos && element.find(' ') == std::string::npos;
}

TEST_F(FileIdWin, MakeShortPathAndBack)
{
    std::wstring longPath = dir / L"Sub Folder\\Long File Name.text";
    QlFileId id(QlStr(longPath.c_str()));
    ASSERT_TRUE(id.MakeShortPath());
    std::string shortPath = Show(id.GetPath());
    std::string upper = shortPath;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(shortPath, upper) << "upper case";
    std::string fileName = Show(id.GetFileName());
    std::string folderName = Show(QlStr(id.GetDirectory()).PathFileName());
    EXPECT_TRUE(IsShortElement(fileName)) << fileName;
    EXPECT_TRUE(IsShortElement(folderName)) << folderName;
    ASSERT_TRUE(id.MakeLongPath());
    EXPECT_EQ(Show(id.GetPath()), Show(longPath)) << "the long form comes back";

    QlFileId pattern(P(L"Sub Folder\\*.text"));
    ASSERT_TRUE(pattern.MakeShortPath());
    EXPECT_EQ(Show(pattern.GetFileName()), "*.text") << "the wildcard name is kept";
    EXPECT_TRUE(IsShortElement(Show(QlStr(pattern.GetDirectory()).PathFileName())));

    QlFileId bare(L"*.txt");
    EXPECT_FALSE(bare.MakeShortPath()) << "wildcards without a folder";
    EXPECT_EQ(Show(bare.GetPath()), "*.txt");
    QlFileId missing(P(L"missing.txt"));
    EXPECT_FALSE(missing.MakeShortPath());
    EXPECT_EQ(qlShowReports(), "");
}

// Relative paths resolve against the current directory, set to the temp
// folder for the test.
TEST_F(FileIdWin, CurrentAndFullPaths)
{
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));

    QlFileId relative(L"x\\y.txt");
    EXPECT_TRUE(relative.MakeFullPath());
    EXPECT_EQ(Show(relative.GetPath()), Show(dir / L"x\\y.txt"));
    EXPECT_EQ(Show(relative.GetName()), "y");

    QlFileId name(L"a.txt");
    EXPECT_TRUE(name.UseCurrentDir());
    EXPECT_EQ(Show(name.GetPath()), Show(dir / L"a.txt"));

    QlFileId empty;
    EXPECT_FALSE(empty.MakeFullPath());
    QlFileId unparsed(L"\\\\srv");
    EXPECT_FALSE(unparsed.UseCurrentDir());
    EXPECT_FALSE(unparsed.IsSet());

    SetCurrentDirectoryW(saved);
    EXPECT_EQ(qlShowReports(), "");
}

}  // namespace
