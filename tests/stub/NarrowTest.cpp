// The narrow build's own pieces: the command-line splitter, the wininit.ini
// entry, the rotating text buffers, the path object and the date-time record.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "stub/sfxfileid.h"
#include "stub/sfxnarrow.h"
#include "stub/sfxstub.h"

// The stub's internal-error report ends the process; here it throws, so
// that the test sees it.
struct InternalError {
    std::string source;
    int line;
};
const char kSfxHeadSource[] = "sfxhead.c";
void internal_error(const char* source, int line) { throw InternalError{source, line}; }

namespace {

std::vector<std::string> split(const char* line)
{
    int count = -1;
    char** args = split_command_line_narrow(line, &count);
    std::vector<std::string> out;
    for (int i = 0; args && i < count; ++i)
        out.push_back(args[i]);
    EXPECT_TRUE(args == nullptr || args[count] == nullptr) << "the array ends with a null pointer";
    return out;
}

typedef std::vector<std::string> Args;

}  // namespace

TEST(NarrowCommandLine, SplitsAsTheWideBuildsSystemFunctionWould)
{
    struct Row {
        const char* line;
        Args args;
    } rows[] = {
        {"", {}},
        {"   \t", {}},
        {"prog.exe a b", {"prog.exe", "a", "b"}},
        {"\"C:\\Program Files\\x.exe\"  run=1", {"C:\\Program Files\\x.exe", "run=1"}},
        {"a\tb\r\nc", {"a", "b", "c"}},
        // A quoted stretch may begin inside an argument; the quotes go.
        {"x\"y z\"w next", {"xy zw", "next"}},
        {"\"\" b", {"", "b"}},
        // No escapes: a backslash before a quote is an ordinary character.
        {"\"C:\\Out Dir\\\" rest", {"C:\\Out Dir\\", "rest"}},
        // An odd quote runs to the end.
        {"a \"open stretch", {"a", "open stretch"}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.args, split(r.line)) << r.line;
}

TEST(NarrowWininit, RenameLineBehindTheSectionOrInANewOne)
{
    struct Row {
        const char* why;
        std::string text;
        size_t extra;
        std::string wanted;  // empty: refused
    } rows[] = {
        {"an empty file", "", 40, "[Rename]\r\nNUL=C:\\T\\a.exe\r\n"},
        {"behind an existing section", "[Other]\r\nx=1\r\n[Rename]\r\nNUL=b\r\n", 40,
         "[Other]\r\nx=1\r\n[Rename]\r\nNUL=C:\\T\\a.exe\r\nNUL=b\r\n"},
        {"the section in other case", "[rename]\r\n", 40, "[rename]\r\nNUL=C:\\T\\a.exe\r\n"},
        {"a last line without its end", "[Other]\r\nx=1", 40, "[Other]\r\nx=1\r\n[Rename]\r\nNUL=C:\\T\\a.exe\r\n"},
        {"no room", "[Rename]\r\n", 5, ""},
    };
    for (const Row& r : rows) {
        std::string buffer = r.text + std::string(r.extra, '\0');
        size_t n = add_rename_line(&buffer[0], r.text.size(), buffer.size(), "NUL=C:\\T\\a.exe\r\n");
        EXPECT_EQ(r.wanted, r.wanted.empty() ? std::string() : buffer.substr(0, n)) << r.why;
        if (r.wanted.empty())
            EXPECT_EQ(0u, n) << r.why;
    }
}

// The real file in the Windows folder, kept as it was around the test.
TEST(NarrowWininit, ScheduleWritesTheWindowsFoldersWininit)
{
    char folder[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
    std::string path = std::string(folder) + "\\WinInit.Ini";
    std::string before;
    HANDLE old = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool existed = old != INVALID_HANDLE_VALUE;
    if (existed) {
        DWORD size = GetFileSize(old, nullptr), got = 0;
        before.resize(size);
        ReadFile(old, &before[0], size, &got, nullptr);
        CloseHandle(old);
    }
    DeleteFileA(path.c_str());
    auto read = [&]() {
        std::string text;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return std::string("(missing)");
        DWORD size = GetFileSize(h, nullptr), got = 0;
        text.resize(size);
        ReadFile(h, &text[0], size, &got, nullptr);
        CloseHandle(h);
        return text;
    };
    schedule_in_wininit("C:\\TEMP\\QLSE0.TMP\\SETUP.EXE");
    schedule_in_wininit("C:\\TEMP\\QLSE0.TMP\\OTHER.DLL");
    std::string got = read();
    DeleteFileA(path.c_str());
    if (existed) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD put = 0;
        WriteFile(h, before.data(), static_cast<DWORD>(before.size()), &put, nullptr);
        CloseHandle(h);
    }
    // Made when missing, the file ends where its text does; the second line
    // comes in behind the section header.
    EXPECT_EQ("[Rename]\r\nNUL=C:\\TEMP\\QLSE0.TMP\\OTHER.DLL\r\nNUL=C:\\TEMP\\QLSE0.TMP\\SETUP.EXE\r\n", got);
}

TEST(NarrowTexts, ChainsAndFiveRotatingBuffers)
{
    EXPECT_STREQ("plain text", load_string_narrow(3100));
    EXPECT_STREQ("first part, second part, last part", load_string_narrow(3101));
    // Five texts at once; the sixth load takes the oldest buffer again.
    const char* texts[6];
    for (int i = 0; i < 6; ++i)
        texts[i] = load_string_narrow(3104 + i);
    EXPECT_STREQ("two", texts[1]);
    EXPECT_STREQ("five", texts[4]);
    EXPECT_EQ(texts[0], texts[5]);
    EXPECT_STREQ("six", texts[0]);
    for (int i = 1; i < 5; ++i)
        EXPECT_NE(texts[i], texts[0]);
}

TEST(NarrowPath, KeepsWideTextAndGivesANarrowView)
{
    SfxFileId shortPath("C:\\a.txt");
    EXPECT_EQ(8, shortPath.Length());
    EXPECT_STREQ(L"a.txt", shortPath.Name());
    EXPECT_TRUE(shortPath.IsDrive());
    EXPECT_FALSE(shortPath.IsUnc());
    // Past the twelve characters kept in place, and back.
    SfxFileId path("\\\\server\\share\\folder\\");
    EXPECT_TRUE(path.IsUnc());
    EXPECT_TRUE(path.AppendNarrow("name.exe"));
    EXPECT_STREQ("\\\\server\\share\\folder\\name.exe", path.Narrow());
    EXPECT_STREQ(L"\\\\server\\share\\folder\\", path.Folder().Wide());
    EXPECT_TRUE(path.SetNarrow("x"));
    EXPECT_STREQ(L"x", path.Wide());
    // ANSI text comes back as it went in; OEM text converts from its page.
    const wchar_t accented[] = L"C:\\Caf\u00e9\\f\u00fcr.txt";
    char ansi[64];
    WideCharToMultiByte(CP_ACP, 0, accented, -1, ansi, sizeof ansi, nullptr, nullptr);
    EXPECT_STREQ(accented, SfxFileId(ansi).Wide());
    EXPECT_STREQ(ansi, SfxFileId(ansi).Narrow());
    EXPECT_STREQ(L"\u00e9", SfxFileId("\x82", true).Wide()) << "OEM 437 or 850: 0x82 is e acute";
    EXPECT_TRUE(SfxFileId("C:\\A.TXT").EqualsNoCase(shortPath));
    EXPECT_TRUE(SfxFileId(".").IsDot());
    EXPECT_TRUE(SfxFileId("..").IsDotDot());
    EXPECT_FALSE(SfxFileId("...").IsDotDot());
    // Outside the text: the path object's internal errors.
    try {
        shortPath.CharAt(8);
        ADD_FAILURE() << "no internal error beyond the text";
    } catch (const InternalError& e) {
        EXPECT_EQ(427, e.line);
        EXPECT_EQ("fileid.h", e.source);
    }
    try {
        shortPath.CharAt(-1);
        ADD_FAILURE() << "no internal error before the text";
    } catch (const InternalError& e) {
        EXPECT_EQ(426, e.line);
    }
}

TEST(NarrowPath, NameTests)
{
    struct Row {
        const char* name;
        bool valid, plain;
    } rows[] = {
        {"setup.exe", true, false}, {"readme", true, true},  {"", false, true},       {"con", false, true},
        {"CON.txt", false, false},  {"com1.log", false, false}, {"com0", true, true}, {"lpt9", false, true},
        {"console", true, true},    {"con.tar.gz", true, false}, {"a:b", false, false}, {"dir\\x", false, false},
        {"a/b", false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.valid, sfx_valid_file_name_narrow(r.name)) << r.name;
        EXPECT_EQ(r.plain, sfx_plain_name_narrow(r.name)) << r.name;
    }
    EXPECT_FALSE(sfx_valid_file_name_narrow(std::string(257, 'x').c_str()));
    EXPECT_TRUE(sfx_valid_file_name_narrow(std::string(256, 'x').c_str()));
}

TEST(NarrowPath, FindTriesTheAttributeSetsInTurn)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "qlnarrow-find-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    HANDLE h = CreateFileA((folder + "\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(h);
    SfxFileId pattern(folder.c_str());
    pattern.AppendWide(L"\\*", 2);
    WIN32_FIND_DATAA found;
    const DWORD hidden_then_folder[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_DIRECTORY};
    EXPECT_TRUE(sfx_find_narrow(pattern, hidden_then_folder, 2, &found));
    EXPECT_STREQ("sub", found.cFileName);
    const DWORD plain_file[] = {0};
    EXPECT_TRUE(sfx_find_narrow(pattern, plain_file, 1, &found));
    EXPECT_STREQ("file.txt", found.cFileName);
    const DWORD hidden[] = {FILE_ATTRIBUTE_HIDDEN};
    EXPECT_FALSE(sfx_find_narrow(pattern, hidden, 1, &found));
    DeleteFileA((folder + "\\file.txt").c_str());
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(NarrowDateTime, ValidDatesAndTheInternalErrorOfAnInvalidOne)
{
    struct Row {
        int year, month, day, hour, minute, second, millisecond;
        bool valid;
    } rows[] = {
        {2024, 2, 29, 23, 59, 59, 999, true},  {2023, 2, 29, 0, 0, 0, 0, false}, {2000, 2, 29, 0, 0, 0, 0, true},
        {1900, 2, 29, 0, 0, 0, 0, false},      {1, 1, 1, 0, 0, 0, 0, true},      {9999, 12, 31, 0, 0, 0, 0, true},
        {10000, 1, 1, 0, 0, 0, 0, false},      {0, 1, 1, 0, 0, 0, 0, false},     {2024, 4, 31, 0, 0, 0, 0, false},
        {2024, 13, 1, 0, 0, 0, 0, false},      {2024, 1, 0, 0, 0, 0, 0, false},  {2024, 1, 1, 24, 0, 0, 0, false},
        {2024, 1, 1, 0, 60, 0, 0, false},      {2024, 1, 1, 0, 0, 60, 0, false}, {2024, 1, 1, 0, 0, 0, 1000, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.valid, SfxDateTime::Check(r.year, r.month, r.day, r.hour, r.minute, r.second, r.millisecond))
            << r.year << "-" << r.month << "-" << r.day << " " << r.hour << ":" << r.minute << ":" << r.second;
    EXPECT_TRUE(SfxDateTime::Local().valid);
    SYSTEMTIME bad = {};
    bad.wYear = 2024;
    bad.wMonth = 2;
    bad.wDay = 30;
    try {
        SfxDateTime time(bad);
        ADD_FAILURE() << "an invalid record was made";
    } catch (const InternalError& e) {
        EXPECT_EQ("datetime", e.source);
        EXPECT_EQ(569, e.line);
    }
}
