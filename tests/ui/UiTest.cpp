// The builder's dialog services under Wine, in-process: the Meter window's
// messages, words and pixels; the busy state and the instance marker; the
// busy cursor's subclassing; message boxes and the common handler; help
// requests reaching the HTML Help control (the logging stand-in beside the
// program, chosen by a DLL override); the F1 hook in menus; the file filters;
// and the output's open and delete retries.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "builder/openretry.h"
#include "builder/services.h"
#include "builder/ui/dlg.h"
#include "builder/ui/filedlg.h"
#include "builder/ui/help.h"
#include "builder/ui/meter.h"
#include "builder/ui/msgsink.h"
#include "help/helpids.h"
#include "tests/support/RecordingHooks.h"

namespace {

HINSTANCE module() { return GetModuleHandleW(nullptr); }

// A plain top-level window for the tests to put things in.
class TestWindow {
public:
    TestWindow(int width = 320, int height = 120)
    {
        static bool registered = false;
        if (!registered) {
            WNDCLASSW type = {};
            type.lpfnWndProc = DefWindowProcW;
            type.hInstance = module();
            type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            type.lpszClassName = L"QlUiTestWindow";
            registered = RegisterClassW(&type) != 0;
        }
        window_ = CreateWindowExW(WS_EX_TOPMOST, L"QlUiTestWindow", L"ui test", WS_POPUP | WS_VISIBLE, 20, 20,
                                  width, height, nullptr, nullptr, module(), nullptr);
    }
    ~TestWindow() { DestroyWindow(window_); }
    HWND get() const { return window_; }

private:
    HWND window_;
};

// The builder's main window for a test: a message-only window, so that the
// instance marker it gets is seen by no builder of the other tests (a
// second builder looks for the marker among the top-level windows).
class MainWindowScope {
public:
    MainWindowScope()
    {
        window_ = CreateWindowExW(0, L"STATIC", L"main", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module(), nullptr);
        set_main_window(window_);
    }
    ~MainWindowScope()
    {
        while (is_busy())
            end_busy();
        set_main_window(nullptr);
        DestroyWindow(window_);
    }
    HWND get() const { return window_; }

private:
    HWND window_;
};

ULONG_PTR marker_of(HWND window)
{
    return reinterpret_cast<ULONG_PTR>(GetPropW(window, instance_marker_name().Text()));
}

COLORREF pixel(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return c;
}

std::wstring temp_path(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name + std::to_wstring(GetCurrentProcessId());
}

std::vector<std::string> read_lines(const std::wstring& path)
{
    std::vector<std::string> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    char buffer[4096];
    DWORD got = 0;
    std::string text;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// A 200 x 20 meter at 10, 10 of parent.
HWND new_meter(HWND parent)
{
    register_meter_class(module());
    return CreateWindowExW(0, kMeterClass, L"", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, parent, nullptr,
                           module(), nullptr);
}

}  // namespace

TEST(Meter, MessagesAndWordsHoldTotalAndDone)
{
    TestWindow parent;
    ASSERT_NE(nullptr, parent.get());
    HWND meter = new_meter(parent.get());
    ASSERT_NE(nullptr, meter);
    // A new meter shows 50 of 100.
    EXPECT_EQ(100, SendMessageW(meter, kMeterGetTotal, 0, 0));
    EXPECT_EQ(50, SendMessageW(meter, kMeterGetDone, 0, 0));
    EXPECT_EQ(0, SendMessageW(meter, kMeterSetTotal, 0xFFFF, 0));
    EXPECT_EQ(0, SendMessageW(meter, kMeterSetDone, 0x8001, 0));
    EXPECT_EQ(0xFFFF, SendMessageW(meter, kMeterGetTotal, 0, 0));
    EXPECT_EQ(0x8001, SendMessageW(meter, kMeterGetDone, 0, 0));
    // The words themselves: word 0 the total, word 1 the part done.
    EXPECT_EQ(0xFFFF, static_cast<WORD>(GetWindowWord(meter, 0)));
    EXPECT_EQ(0x8001, static_cast<WORD>(GetWindowWord(meter, 2)));
    // Values are 16 bits: the high half of wParam is not kept.
    SendMessageW(meter, kMeterSetDone, 0x12345, 0);
    EXPECT_EQ(0x2345, SendMessageW(meter, kMeterGetDone, 0, 0));
    EXPECT_EQ(static_cast<LRESULT>(DLGC_STATIC), SendMessageW(meter, WM_GETDLGCODE, 0, 0));
}

TEST(Meter, PaintsTheDonePartInTheHighlightColour)
{
    TestWindow parent;
    ASSERT_NE(nullptr, parent.get());
    HWND meter = new_meter(parent.get());
    ASSERT_NE(nullptr, meter);
    const COLORREF done = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF rest = GetSysColor(COLOR_HIGHLIGHTTEXT);
    ASSERT_NE(done, rest);
    struct Case {
        const char* why;
        WPARAM total, part;
        COLORREF left, right;  // at x 10 and 190, below the text
    } cases[] = {
        {"200 and 50: a quarter done", 200, 50, done, rest},
        {"total 0: nothing done", 0, 30, rest, rest},
        {"done beyond the total: all done", 100, 150, done, done},
        {"all done", 40, 40, done, done},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SendMessageW(meter, kMeterSetTotal, c.total, 0);
        SendMessageW(meter, kMeterSetDone, c.part, 0);
        EXPECT_EQ(c.left, pixel(meter, 10, 18));
        EXPECT_EQ(c.right, pixel(meter, 190, 18));
    }
    // The edge of a quarter: pixel 49 done, pixel 50 not.
    SendMessageW(meter, kMeterSetTotal, 200, 0);
    SendMessageW(meter, kMeterSetDone, 50, 0);
    EXPECT_EQ(done, pixel(meter, 49, 18));
    EXPECT_EQ(rest, pixel(meter, 50, 18));
}

TEST(Busy, MarkerCountAndModalDialogs)
{
    MainWindowScope main;
    ASSERT_NE(nullptr, main.get());
    dialog_services_start();
    end_busy();
    EXPECT_EQ(2u, marker_of(main.get())) << "idle";
    EXPECT_FALSE(is_busy());
    begin_busy();
    begin_busy();
    EXPECT_EQ(1u, marker_of(main.get()));
    EXPECT_TRUE(is_busy());
    end_busy();
    EXPECT_EQ(1u, marker_of(main.get())) << "still counted once";
    EXPECT_TRUE(is_busy());

    // A modal dialog lifts the busy state while it is open and puts it back.
    struct Probe : CDlg {
        Probe() : CDlg(kConfirmDialog) {}
        BOOL OnInitDialog() override
        {
            busy_inside = is_busy();
            marker_inside = marker_of(main_window());
            EndDialog(Window(), 7);
            return TRUE;
        }
        bool busy_inside = true;
        ULONG_PTR marker_inside = 0;
    } probe;
    EXPECT_EQ(7, probe.DoModal());
    EXPECT_FALSE(probe.busy_inside);
    EXPECT_EQ(2u, probe.marker_inside);
    EXPECT_TRUE(is_busy());
    EXPECT_EQ(1u, marker_of(main.get()));
    end_busy();
    EXPECT_EQ(2u, marker_of(main.get()));
    end_busy();  // not below 0
    EXPECT_FALSE(is_busy());
    begin_busy();
    EXPECT_EQ(1u, marker_of(main.get()));
}

TEST(Busy, SetBusySubclassesEachChildOnceAndRestoresIt)
{
    TestWindow parent;
    ASSERT_NE(nullptr, parent.get());
    HWND a = CreateWindowExW(0, L"BUTTON", L"a", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, parent.get(), nullptr,
                             module(), nullptr);
    HWND b = CreateWindowExW(0, L"EDIT", L"b", WS_CHILD | WS_VISIBLE, 60, 0, 50, 20, parent.get(), nullptr,
                             module(), nullptr);
    LONG_PTR before_a = GetWindowLongPtrW(a, GWLP_WNDPROC);
    LONG_PTR before_b = GetWindowLongPtrW(b, GWLP_WNDPROC);
    msgsink_record_in_memory(true);
    set_busy(true, parent.get());
    LONG_PTR busy_a = GetWindowLongPtrW(a, GWLP_WNDPROC);
    EXPECT_NE(before_a, busy_a);
    EXPECT_NE(nullptr, GetPropW(a, L"OrgWndProc"));
    EXPECT_NE(nullptr, GetPropW(b, L"OrgWndProc2"));
    set_busy(true, parent.get());  // the same state: nothing happens
    EXPECT_EQ(busy_a, GetWindowLongPtrW(a, GWLP_WNDPROC));
    EXPECT_TRUE(msgsink_take_records().empty()) << "no 1079: no child subclassed twice";
    // The busy children still work through their own procedure.
    SetWindowTextW(b, L"typed");
    wchar_t text[16];
    GetWindowTextW(b, text, 16);
    EXPECT_STREQ(L"typed", text);
    set_busy(false, parent.get());
    EXPECT_EQ(before_a, GetWindowLongPtrW(a, GWLP_WNDPROC));
    EXPECT_EQ(before_b, GetWindowLongPtrW(b, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, GetPropW(a, L"OrgWndProc"));
    EXPECT_EQ(nullptr, GetPropW(b, L"OrgWndProc2"));
    EXPECT_FALSE(is_busy());
    msgsink_record_in_memory(false);
}

TEST(MessageBoxes, ErrorBoxEndsItsSentence)
{
    msgsink_record_in_memory(true);
    error_box_with_help(IDH_DIALOG_TYPE3, nullptr, QlStr(L"The disk is full"), 77);
    error_box_with_help(IDH_DIALOG_TYPE3, nullptr, QlStr(L"Try again?"), 78);
    error_box_with_help(IDH_DIALOG_TYPE3, nullptr, QlStr(L"Done."), 79);
    std::vector<SinkRecord> boxes = msgsink_take_records();
    msgsink_record_in_memory(false);
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ(77, boxes[0].id);
    EXPECT_EQ(L"The disk is full.", boxes[0].text);
    EXPECT_EQ(L"Try again?", boxes[1].text);
    EXPECT_EQ(L"Done.", boxes[2].text);
    EXPECT_EQ(IDOK, boxes[0].answer);
}

TEST(Help, RequestsReachTheHelpControlWithTheFileAndId)
{
    const std::wstring log = temp_path(L"ql-help-log-");
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QL_HELP_LOG", log.c_str());
    const QlStr file(L"C:\\Program Files\\Quolla\\quollase.chm");
    help_start(file);
    TestWindow owner;
    ASSERT_NE(nullptr, owner.get());
    qlTakeHookReports();

    EXPECT_FALSE(dialog_common_handler(owner.get(), WM_HELP, 0, 0, kQlDlgNoHelp)) << "0xFFFF: the dialog's own";
    EXPECT_TRUE(dialog_common_handler(owner.get(), WM_HELP, 0, 0, 0)) << "0: handled, nothing opens";
    EXPECT_TRUE(dialog_common_handler(owner.get(), WM_COMMAND, 9, 0, IDH_WIZ_GETFILE));
    EXPECT_FALSE(dialog_common_handler(owner.get(), WM_COMMAND, 8, 0, IDH_WIZ_GETFILE));
    EXPECT_TRUE(show_help(owner.get(), kHelpContext, IDH_CONTENTS));
    EXPECT_FALSE(show_help(owner.get(), kHelpContext, 14500)) << "the second alternate file is empty";
    EXPECT_FALSE(show_help(owner.get(), kHelpContext, 25000)) << "the first alternate file is empty";
    set_help_disabled(true);
    EXPECT_TRUE(dialog_common_handler(owner.get(), WM_HELP, 0, 0, IDH_WIZ_DONE));
    set_help_disabled(false);
    EXPECT_TRUE(qlTakeHookReports().empty());
    show_help(owner.get(), 4, IDH_WIZ_DONE);
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("help", reports[0].source);
    help_stop();

    std::string chm = narrow(file.Text());
    std::vector<std::string> want = {
        "28\t20817\t",                   // HH_INITIALIZE, once, with the cookie it gave
        "15\t102\t" + chm,               // the Help button: HH_HELP_CONTEXT with the page's id
        "1\t0\t" + chm,                  // id 1: the table of contents
        "29\t20817\t",                   // HH_UNINITIALIZE with that cookie
    };
    EXPECT_EQ(want, read_lines(log));
    for (HWND viewer; (viewer = FindWindowW(L"HH Parent", nullptr)) != nullptr;)
        DestroyWindow(viewer);
    DeleteFileW(log.c_str());
}

TEST(Help, F1InAMenuIsPostedToTheMainWindow)
{
    MainWindowScope main;
    ASSERT_NE(nullptr, main.get());
    MSG key = {};
    key.hwnd = main.get();
    key.message = WM_KEYDOWN;
    key.wParam = VK_F1;
    help_message_hook(MSGF_MENU, 0, reinterpret_cast<LPARAM>(&key));
    key.wParam = VK_F2;
    help_message_hook(MSGF_MENU, 0, reinterpret_cast<LPARAM>(&key));
    key.wParam = VK_F1;
    help_message_hook(MSGF_DIALOGBOX, 0, reinterpret_cast<LPARAM>(&key));
    MSG posted;
    ASSERT_TRUE(PeekMessageW(&posted, main.get(), kMsgMenuHelp, kMsgMenuHelp, PM_REMOVE));
    EXPECT_EQ(static_cast<WPARAM>(MSGF_MENU), posted.wParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(main.get()), posted.lParam);
    EXPECT_FALSE(PeekMessageW(&posted, main.get(), kMsgMenuHelp, kMsgMenuHelp, PM_REMOVE)) << "F1 in menus only";
}

TEST(FileDialogs, FiltersFromTheStringTable)
{
    wchar_t filter[66];
    ASSERT_TRUE(load_file_filter(4820, filter, 66, 1));
    const wchar_t zip[] = L"Zip files (*.zip,*.zipx)\0*.zip;*.zipx\0all files (*.*)\0*.*\0";
    EXPECT_EQ(0, memcmp(zip, filter, sizeof zip));
    ASSERT_TRUE(load_file_filter(4360, filter, 66, 1));
    const wchar_t icon[] = L"ico files\0*.ico\0all files\0*.*\0";
    EXPECT_EQ(0, memcmp(icon, filter, sizeof icon));
    // Longer than 64 characters: an internal error at the caller's line.
    qlTakeHookReports();
    EXPECT_FALSE(load_file_filter(4650, filter, 66, 321));
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(321, reports[0].line);
}

TEST(OpenRetrying, ARefusedAccessFailsAtOnce)
{
    // A read-only output cannot be deleted; a folder in the output's place
    // cannot be opened. Neither is held by anyone: neither is waited for.
    const std::wstring path = temp_path(L"ql-read-only-");
    HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, made);
    CloseHandle(made);
    const std::wstring folder = temp_path(L"ql-folder-");
    CreateDirectoryW(folder.c_str(), nullptr);
    DWORD start = GetTickCount();
    EXPECT_FALSE(delete_retrying(path));
    HANDLE h = open_retrying(folder, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD error = GetLastError();
    DWORD spent = GetTickCount() - start;
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);
    // Waiting would have taken two full waits of 8 s.
    EXPECT_LT(spent, kHeldFileWaitMs) << "no wait for a file nobody holds";
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
}

namespace {
HANDLE g_holder = INVALID_HANDLE_VALUE;
void CALLBACK let_go(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    CloseHandle(g_holder);
    g_holder = INVALID_HANDLE_VALUE;
}
}  // namespace

TEST(OpenRetrying, AFileHeldByAnotherIsWaitedFor)
{
    const std::wstring path = temp_path(L"ql-held-");
    g_holder = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, g_holder);
    // The holder lets go from a timer, which only the retry loop's message
    // processing can run.
    SetTimer(nullptr, 0, 200, let_go);
    HANDLE h = open_retrying(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(INVALID_HANDLE_VALUE, g_holder);
    CloseHandle(h);
    g_holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetTimer(nullptr, 0, 200, let_go);
    EXPECT_TRUE(delete_retrying(path));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

TEST(Services, LanguageVersionAndConfirmIds)
{
    EXPECT_TRUE(is_ui_language(1));
    EXPECT_FALSE(is_ui_language(3));
    EXPECT_FALSE(is_ui_language(9));
    EXPECT_EQ(QlStr(L"4.0"), get_builder_version());
    qlTakeHookReports();
    EXPECT_EQ(0, confirm_dialog(nullptr, 0, IDH_DIALOG_TYPE2));
    EXPECT_EQ(1u, qlTakeHookReports().size());
}
