// The greeting reader, the text writer and the version range of the helper
// library check.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BuilderTestFiles.h"
#include "builder/setup/version.h"
#include "builder/sfxoptions.h"
#include "builder/textfile.h"
#include "builder/ui/msgsink.h"
#include "tests/support/RecordingHooks.h"

namespace {

std::vector<int> shown()
{
    std::vector<int> ids;
    for (const SinkRecord& r : msgsink_take_records())
        ids.push_back(r.id);
    return ids;
}

std::string read_all(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string out(4096, '\0');
    DWORD got = 0;
    ReadFile(file, &out[0], static_cast<DWORD>(out.size()), &got, nullptr);
    CloseHandle(file);
    out.resize(got);
    return out;
}

class BuilderTextFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        msgsink_record_in_memory(true);
        reset_options();
    }
    void TearDown() override
    {
        msgsink_record_in_memory(false);
        EXPECT_TRUE(qlTakeHookReports().empty());
    }
    TestFolder files_;
};

TEST_F(BuilderTextFiles, GreetingLimitsKeepWholeCharacters)
{
    std::wstring surrogateTail = std::wstring(511, L'a') + L"\xD83D\xDE00";  // 1026 bytes
    const struct {
        const char* name;
        std::string bytes;
        std::vector<int> messages;
        std::wstring expected;
    } cases[] = {
        {"ansi within limit", std::string(512, 'a'), {}, std::wstring(512, L'a')},
        {"ansi over limit", std::string(600, 'b'), {1037}, std::wstring(512, L'b')},
        {"utf-16 of exactly 1024 bytes", utf16le(std::wstring(512, L'\u00E9'), true), {}, std::wstring(512, L'\u00E9')},
        {"utf-16 cut before a surrogate pair", utf16le(surrogateTail, true), {1037}, std::wstring(511, L'a')},
        {"utf-8 cut before a sequence", utf8(std::wstring(1023, L'c') + L"\u20AC", true), {1037}, std::wstring(1023, L'c')},
        {"utf-8 whole", utf8(std::wstring(1021, L'c') + L"\u20AC", true), {}, std::wstring(1021, L'c') + L"\u20AC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_options();
        g_options.greeting_file = QlStr(files_.Write(L"greet.txt", c.bytes).c_str());
        EXPECT_TRUE(load_message_text(QlStr(files_.Path(L"a.zip").c_str()), false));
        EXPECT_EQ(shown(), c.messages);
        EXPECT_EQ(std::wstring(g_options.greeting_text.Text(), g_options.greeting_text.Length()), c.expected);
    }
}

TEST_F(BuilderTextFiles, GreetingFileChoice)
{
    QlStr zip(files_.Path(L"a.zip").c_str());
    // Named but missing: refused.
    g_options.greeting_file = QlStr(files_.Path(L"missing.txt").c_str());
    EXPECT_FALSE(load_message_text(zip, false));
    EXPECT_EQ(shown(), std::vector<int>{1014});
    // Not named and not wanted: nothing to read.
    reset_options();
    EXPECT_TRUE(load_message_text(zip, false));
    // Wanted without a file: quollase.diz beside the Zip, when there is one.
    g_settings.greeting_wanted = true;
    EXPECT_TRUE(load_message_text(zip, false));
    EXPECT_FALSE(g_options.greeting_text.HasText());
    files_.Write(L"quollase.diz", "Welcome");
    EXPECT_TRUE(load_message_text(zip, false));
    EXPECT_TRUE(g_options.greeting_text == QL("Welcome"));
    // In the wizard an unnamed greeting is empty.
    EXPECT_TRUE(load_message_text(zip, true));
    EXPECT_FALSE(g_options.greeting_text.HasText());
    // A mark that is no supported encoding.
    g_options.greeting_file = QlStr(files_.Write(L"be.txt", std::string("\xFE\xFF\0A", 4)).c_str());
    EXPECT_FALSE(load_message_text(zip, false));
    EXPECT_EQ(shown(), std::vector<int>{4435});
}

TEST_F(BuilderTextFiles, WriterChoosesAnsiOrUtf16)
{
    std::wstring path = files_.Path(L"out.txt");
    EXPECT_TRUE(write_text_file(QlStr(path.c_str()), QlStr(L"plain text")));
    EXPECT_EQ(read_all(path), "plain text");
    EXPECT_TRUE(write_text_file(QlStr(path.c_str()), QlStr(L"\u0416x")));
    EXPECT_EQ(read_all(path), std::string("\xFF\xFE\x16\x04x\0", 6));
    EXPECT_FALSE(write_text_file(QlStr(files_.Path(L"no\\such\\folder.txt").c_str()), QlStr(L"x")));
    EXPECT_EQ(shown(), std::vector<int>{1070});
}

TEST(BuilderVersionRange, MinimumCommaMaximum)
{
    const struct { int major; const wchar_t* range; bool accepted; } cases[] = {
        {24, L"24,999", true},
        {999, L"24,999", true},
        {23, L"24,999", false},
        {1000, L"24,999", false},
        {4, L"4,4", true},
        {5, L"4,4", false},
        {24, L"24", false},  // no maximum: 0
        {0, L"24", false},
        {0, L",", true},
        {4, L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(major_in_range(c.major, QlStr(c.range)), c.accepted) << c.major;
    EXPECT_FALSE(major_in_range(4, QlStr::CtorNull()));
}

}  // namespace

namespace {

TEST(BuilderMessageSink, RecordedBoxesAnswerWithTheirDefaultOrTheScript)
{
    msgsink_record_in_memory(true);
    const struct { UINT flags; int answer; } cases[] = {
        {MB_OK | MB_ICONERROR, IDOK},
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_OKCANCEL, IDOK},
        {MB_RETRYCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sink_message_box(1, nullptr, QlStr(L"q"), QlStr(L"c"), c.flags), c.answer) << c.flags;
    msgsink_set_answer(4740, IDNO);
    EXPECT_EQ(message_box_id(4740, QlStr(L"Change it?"), MB_YESNO), IDNO);
    std::vector<SinkRecord> records = msgsink_take_records();
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(records.back().id, 4740);
    EXPECT_EQ(records.back().text, L"Change it?");
    EXPECT_EQ(records.back().answer, IDNO);
    msgsink_record_in_memory(false);
}

}  // namespace
