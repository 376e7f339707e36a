// The stub's host for the engine: its texts, the spanned set's labels and
// part names, the folder it enters, the abort polling and the disk request.
#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "stub/sfxhost.h"

extern const char kSfxUtilSource[];
const char kSfxUtilSource[] = "qlutil.c";
[[noreturn]] void internal_error(const char*, int line) { throw line; }

namespace {

std::wstring str(const QlStr& s) { return s.Text() ? std::wstring(s.Text(), s.Length()) : L"<null>"; }

struct Box {
    int id;
    std::wstring text;
    UINT type;
};

class RecordingSink final : public SfxHostSink {
public:
    int box(int id, const QlStr& text, UINT type) override
    {
        boxes.push_back({id, str(text), type});
        if (answers.empty())
            return IDCANCEL;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void unzipping(const QlStr&) override {}
    void progress(uint32_t) override {}

    std::vector<Box> boxes;
    std::deque<int> answers;
};

TEST(EngineHost, FillsTheEngineTexts)
{
    struct Case {
        int id, phrase;
        const wchar_t* text;
        int64_t numbers[2];
        int place;
        const wchar_t* want;
    } cases[] = {
        {1047, 0, L"C:\\a.exe", {0, 0}, 9,
         L"Error reading C:\\a.exe.  Possible cause: bad disk or file transfer error. <9>"},
        {1068, 0, L"x.txt", {5000, 100}, -1,
         L"Error: Unable to extract x.txt.\n\nThe size of the extracted file (5000) does not "
         L"match the uncompressed size (100) recorded in the Zip file."},
        // Sizes past 2 GiB print as they are, not as negative numbers.
        {1068, 0, L"y", {3000000000LL, 1}, -1,
         L"Error: Unable to extract y.\n\nThe size of the extracted file (3000000000) does not "
         L"match the uncompressed size (1) recorded in the Zip file."},
        {1107, 1103, nullptr, {0, 0}, -1, L"Error: Invalid compressed data to expand (LZMA decode) the file\n"},
        {1065, 0, nullptr, {7, 0}, -1, L"PPMd compression decode error 7 detected; unzip operation cancelled."},
        {1043, 0, L"C:\\d", {0, 0}, -1, L"Could not create \"C:\\d\" - unzip operation cancelled."},
        // A name holding a placeholder is not filled in again.
        {1026, 0, L"%d%s.txt", {0, 0}, -1, L"File %d%s.txt already exists.  Overwrite file?"},
        {1004, 0, nullptr, {2, 0}, -1,
         L"The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert disk number 2."},
    };
    for (const Case& c : cases) {
        SfxMessage m;
        m.id = c.id;
        m.phrase = c.phrase;
        m.text = QlStr(c.text);
        m.numbers[0] = c.numbers[0];
        m.numbers[1] = c.numbers[1];
        m.place = c.place;
        EXPECT_EQ(str(sfx_engine_message_text(m)), c.want) << c.id;
    }
}

TEST(EngineHost, ReadsPathsAndLabels)
{
    struct Label {
        const wchar_t* label;
        uint16_t disk;
    } labels[] = {
        {L"PKBACK# 003", 3},  {L"PKBACK#.12", 12},    {L"PKBACK# 12A", 12},
        {L"PKBACK#", 0xFFFF}, {L"pkback# 001", 0xFFFF}, {L"BACKUP# 001", 0xFFFF},
        {L"PKBACK#001", 0xFFFF},  // no separator before the digits
        {L"PKBACK# X", 0xFFFF},   // no digit after it
        {L"PKBACK#AB 7", 7},      // the first separator after the prefix counts
        {L"PKBACK# 99999", 0xFFFF},  // no disk of a set, and no wrap onto one
        {L"", 0xFFFF},
    };
    for (const Label& l : labels)
        EXPECT_EQ(sfx_disk_from_label(l.label), l.disk) << str(QlStr(l.label));
    EXPECT_EQ(sfx_disk_from_label(nullptr), 0xFFFF);

    struct Path {
        const wchar_t* in;
        const wchar_t* entered;  // sfx_folder_to_enter
        const wchar_t* drive;    // sfx_drive_of
        const wchar_t* part;     // sfx_part_path, executable parts
    } paths[] = {
        {L"C:\\", L"C:\\", L"C:", L"C:\\.EXE"},
        {L"C:\\unzip\\", L"C:\\unzip", L"C:", L"C:\\unzip\\.EXE"},
        {L"C:\\unzip/", L"C:\\unzip", L"C:", L"C:\\unzip/.EXE"},
        {L"A:\\setup.exe", L"A:\\setup.exe", L"A:", L"A:\\setup.EXE"},
        {L"A:\\set.v2\\disk", L"A:\\set.v2\\disk", L"A:", L"A:\\set.v2\\disk.EXE"},
        {L"\\\\srv\\share\\set.zip", L"\\\\srv\\share\\set.zip", L"\\\\srv\\share", L"\\\\srv\\share\\set.EXE"},
        {L"\\", L"\\", L"", L"\\.EXE"},
        {L"/", L"/", L"", L"/.EXE"},
        {L"relative\\", L"relative", L"", L"relative\\.EXE"},
    };
    for (const Path& p : paths) {
        QlStr in(p.in);
        EXPECT_EQ(str(sfx_folder_to_enter(in)), p.entered) << str(in);
        EXPECT_EQ(str(sfx_drive_of(in)), p.drive) << str(in);
        EXPECT_EQ(str(sfx_part_path(in, true)), p.part) << str(in);
    }
    EXPECT_EQ(str(sfx_part_path(QlStr(L"A:\\setup.exe"), false)), L"A:\\setup.ZIP");
}

// Input to the main dialog or one of its controls asks to abort; input to
// other windows is dropped; other messages are dispatched.
TEST(EngineHost, PollsForAnAbortRequest)
{
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
    HWND child = CreateWindowExW(0, L"STATIC", L"child", WS_CHILD, 0, 0, 5, 5, owner, nullptr,
                                 nullptr, nullptr);
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner && child && other);
    enum Where { kOwner, kChild, kOther };
    struct Case {
        UINT message;
        LPARAM lparam;
        Where where;
        int answer;   // 0: no question expected
        bool aborts;
    } cases[] = {
        {WM_KEYDOWN, 0, kOwner, IDYES, true},
        {WM_KEYDOWN, 0, kChild, IDNO, false},
        {WM_LBUTTONDOWN, 0, kChild, IDYES, true},
        {WM_NCLBUTTONDBLCLK, 0, kOwner, IDYES, true},
        {WM_CHAR, static_cast<LPARAM>(0x80000000u), kOwner, IDYES, true},
        {WM_CHAR, 1, kOwner, 0, false},      // a key going down, not up
        {WM_KEYDOWN, 0, kOther, 0, false},   // another window's
        {WM_MOUSEMOVE, 0, kOwner, 0, false},
        {WM_USER + 5, 0, kOwner, 0, false},
    };
    const HWND windows[] = {owner, child, other};
    for (const Case& c : cases) {
        RecordingSink sink;
        if (c.answer)
            sink.answers.push_back(c.answer);
        SfxHostSetup setup;
        setup.owner = owner;
        setup.sink = &sink;
        SfxWinHost host(setup);
        MSG stale;
        while (PeekMessageW(&stale, nullptr, 0, 0, PM_REMOVE)) {
        }
        PostMessageW(windows[c.where], c.message, 0, c.lparam);
        EXPECT_EQ(host.poll_user_abort(), c.aborts) << c.message;
        ASSERT_EQ(sink.boxes.size(), c.answer ? 1u : 0u) << c.message;
        if (c.answer) {
            EXPECT_EQ(sink.boxes[0].id, 1021);
            EXPECT_EQ(sink.boxes[0].type, UINT(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
        }
    }
    DestroyWindow(other);
    DestroyWindow(owner);
}

class DiskRequest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t here[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, here);
        folder_ = std::wstring(here) + L"\\disk-test-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        part_ = folder_ + L"\\set.ZIP";
        HANDLE f = CreateFileW(part_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(f, "PK00", 4, &n, nullptr);
        CloseHandle(f);
    }
    void TearDown() override
    {
        DeleteFileW(part_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring folder_, part_;
};

// The drive of the test has no spanned set's label: the user is asked, and
// Ignore takes the disk as the one wanted.
TEST_F(DiskRequest, AsksWhenTheLabelIsNotASetsAndOpensThePart)
{
    uint16_t label = read_disk_number(sfx_drive_of(QlStr(folder_.c_str())));
    if (label != 0xFFFF)
        GTEST_SKIP() << "the drive carries a set's label";
    struct Case {
        std::vector<int> answers;
        bool part_exists;
        bool opened;
        std::vector<int> ids;
    } cases[] = {
        {{IDIGNORE}, true, true, {1004}},
        {{IDABORT}, true, false, {1004}},
        {{IDRETRY, IDIGNORE}, true, true, {1004, 1004}},
        {{IDIGNORE}, false, false, {1004, 2002}},
    };
    for (const Case& c : cases) {
        if (!c.part_exists)
            DeleteFileW(part_.c_str());
        RecordingSink sink;
        sink.answers.assign(c.answers.begin(), c.answers.end());
        HANDLE archive = INVALID_HANDLE_VALUE;
        SfxHostSetup setup;
        setup.archive = &archive;
        setup.archive_path = QlStr((folder_ + L"\\set.exe").c_str());
        setup.sink = &sink;
        SfxWinHost host(setup);
        EXPECT_EQ(host.request_disk(2), c.opened);
        EXPECT_EQ(archive != INVALID_HANDLE_VALUE, c.opened);
        ASSERT_EQ(sink.boxes.size(), c.ids.size());
        for (size_t i = 0; i < c.ids.size(); ++i)
            EXPECT_EQ(sink.boxes[i].id, c.ids[i]);
        EXPECT_EQ(sink.boxes[0].text.find(L"Insert disk number 2.") != std::wstring::npos, true);
        if (c.opened) {
            EXPECT_EQ(host.current_disk(), 2);
            uint8_t bytes[4] = {0};
            EXPECT_EQ(host.archive_read(bytes, 4), 4);
            EXPECT_EQ(bytes[2], '0');
            CloseHandle(archive);
        }
    }
}

}  // namespace
