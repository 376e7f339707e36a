// QlFileInfo: existence, stat records and times on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/fileinfo.h"
#include "tests/support/RecordingHooks.h"
#include "tests/support/TextShow.h"
#include "tests/win/WinTempFolder.h"

namespace {

QlStr Q(const std::wstring& text)
{
    return QlStr(text.c_str());
}

TEST(FileInfoWin, Exists)
{
    WinTempFolder dir;
    ASSERT_TRUE(dir.MakeFile(L"a.txt", "abc"));
    ASSERT_TRUE(dir.MakeDir(L"Sub"));
    const struct {
        std::wstring path;
        bool exists;
    } cases[] = {
        {dir / L"a.txt", true},
        {dir / L"A.TXT", true},
        {dir / L"Sub", true},
        {dir / L"Sub\\", true},
        {dir / L"Sub/", true},
        {dir / L"Su*", false},
        {dir / L"a.tx?", false},
        {dir / L"missing.txt", false},
        {dir / L"Sub\\con.txt", false},
        {L"C:\\", true},
        {L"c:", true},
        {L"\\\\srv", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qlFileInfoExists(Q(c.path)), c.exists) << qlShowText(c.path.c_str(), 200);
}

TEST(FileInfoWin, StatFilesFoldersAndRoots)
{
    WinTempFolder dir;
    ASSERT_TRUE(dir.MakeFile(L"run.exe", "12345"));
    ASSERT_TRUE(dir.MakeFile(L"ro.txt", "", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(dir.MakeDir(L"Sub"));

    QlFileInfo info;
    ASSERT_TRUE(qlFileInfoStat(Q(dir / L"RUN.EXE"), info, true));
    EXPECT_EQ(info.mode, 0x81FF);
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(qlShowText(info.name), "run.exe") << "the name as stored";
    EXPECT_TRUE(info.lastWriteTime.IsSet());
    EXPECT_TRUE(info.creationTime.IsSet());

    ASSERT_TRUE(qlFileInfoStat(Q(dir / L"ro.txt"), info, false));
    EXPECT_EQ(info.mode, 0x8124);
    EXPECT_EQ(info.attributes & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));

    ASSERT_TRUE(qlFileInfoStat(Q(dir / L"Sub\\"), info, false));
    EXPECT_EQ(info.mode, 0x41FF);
    EXPECT_EQ(qlShowText(info.name), "Sub");

    QlFileInfo root;
    ASSERT_TRUE(qlFileInfoStat(QlStr(L"C:\\"), root, true));
    EXPECT_EQ(root.attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(root.size, 0u);
    EXPECT_EQ(root.mode, 0x41FF);
    EXPECT_EQ(qlShowText(root.name), "");
    for (const QlDateTime* time : {&root.lastWriteTime, &root.lastAccessTime, &root.creationTime}) {
        EXPECT_EQ(time->Year(), 1980);
        EXPECT_EQ(time->Month(), 1);
        EXPECT_EQ(time->Day(), 1);
        EXPECT_EQ(time->Hour() + time->Minute() + time->Second() + time->Millisecond(), 0);
    }

    QlFileInfo untouched;
    untouched.size = 77;
    EXPECT_FALSE(qlFileInfoStat(Q(dir / L"missing"), untouched, true));
    EXPECT_FALSE(qlFileInfoStat(Q(dir / L"*.exe"), untouched, true));
    EXPECT_EQ(untouched.size, 77u) << "the record is written only on success";
}

TEST(FileInfoWin, StatKeepsTheShortNameItWasGiven)
{
    WinTempFolder dir;
    ASSERT_TRUE(dir.MakeFile(L"Long File Name.text", "x"));
    std::wstring longPath = dir / L"Long File Name.text";
    wchar_t shortPath[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(longPath.c_str(), shortPath, MAX_PATH), 0u);
    std::wstring shortName = shortPath;
    shortName = shortName.substr(shortName.rfind(L'\\') + 1);

    QlFileInfo info;
    ASSERT_TRUE(qlFileInfoStat(QlStr(shortPath), info, false));
    EXPECT_EQ(qlShowText(info.name), qlShowText(shortName.c_str(), int(shortName.size())));
    ASSERT_TRUE(qlFileInfoStat(Q(longPath), info, false));
    EXPECT_EQ(qlShowText(info.name), "Long File Name.text");
}

FILETIME FileTimeOf(int year)
{
    SYSTEMTIME system = {};
    system.wYear = WORD(year);
    system.wMonth = 6;
    system.wDay = 15;
    system.wHour = 12;
    FILETIME local, utc;
    SystemTimeToFileTime(&system, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

TEST(FileInfoWin, TimesFallBack)
{
    const FILETIME zero = {0, 0};
    const struct {
        const char* what;
        FILETIME creation, access, write;
        int creationYear, accessYear, writeYear;  // 0: cleared
    } cases[] = {
        {"all three", FileTimeOf(2001), FileTimeOf(2002), FileTimeOf(2003), 2001, 2002, 2003},
        {"no write time: the creation time", FileTimeOf(2001), zero, zero, 2001, 2001, 2001},
        {"no access or creation: the write time", zero, zero, FileTimeOf(2003), 2003, 2003, 2003},
        {"none", zero, zero, zero, 0, 0, 0},
    };
    for (const auto& c : cases) {
        WIN32_FIND_DATAW data = {};
        data.ftCreationTime = c.creation;
        data.ftLastAccessTime = c.access;
        data.ftLastWriteTime = c.write;
        QlFileInfo info;
        qlFileInfoSetTimes(data, info);
        EXPECT_EQ(info.creationTime.IsSet() ? info.creationTime.Year() : 0, c.creationYear) << c.what;
        EXPECT_EQ(info.lastAccessTime.IsSet() ? info.lastAccessTime.Year() : 0, c.accessYear)
            << c.what;
        EXPECT_EQ(info.lastWriteTime.IsSet() ? info.lastWriteTime.Year() : 0, c.writeYear) << c.what;
        if (c.writeYear != 0) {
            EXPECT_EQ(info.lastWriteTime.Hour(), 12) << c.what << ": local time";
        }
    }
}

}  // namespace
