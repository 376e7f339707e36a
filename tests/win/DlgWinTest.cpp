// The dialog library under Wine: real templates (tests/win/DlgTest.rc) run
// from their patched copies with all their controls in the message font, the
// dialog object's dispatch through the common handler with its help id, and
// the failure roads of both loaders.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/Dlg.h"
#include "common/DlgFont.h"
#include "common/QlMisc.h"
#include "tests/support/RecordingHooks.h"

namespace {

const int kClassic = 7101;
const int kExtended = 7102;
const int kNoFont = 7103;
const int kMissing = 4711;

INT_PTR CALLBACK quiet_procedure(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

std::wstring font_face(HWND window, LONG* height)
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    LOGFONTW described = {};
    if (font == nullptr || !GetObjectW(font, sizeof described, &described))
        return L"<none>";
    *height = described.lfHeight < 0 ? -described.lfHeight : described.lfHeight;
    return described.lfFaceName;
}

struct Seen {
    UINT message;
    int help_id;
};
std::vector<Seen> g_seen;
int g_handledId = 0;  // the command the handler takes for itself

bool recording_handler(HWND, UINT message, WPARAM wparam, LPARAM, int help_id)
{
    if (message == WM_COMMAND || message == WM_INITDIALOG)
        g_seen.push_back({message == WM_COMMAND ? static_cast<UINT>(LOWORD(wparam)) : message, help_id});
    return g_handledId != 0 && message == WM_COMMAND && LOWORD(wparam) == g_handledId;
}

int suspended = 0, resumed = 0;
int suspend() { ++suspended; return 7; }
void resume(int token) { resumed += token; }

class HostScope {
public:
    HostScope()
    {
        QlDlgHost host = {};
        host.common_handler = recording_handler;
        host.suspend_busy = suspend;
        host.resume_busy = resume;
        qlDlgSetHost(host);
        g_seen.clear();
        g_handledId = 0;
        suspended = resumed = 0;
    }
    ~HostScope() { qlDlgSetHost(QlDlgHost()); }
};

// Presses its buttons from inside: Help first, then OK.
class PressingDialog : public CDlg {
public:
    explicit PressingDialog(int id) : CDlg(id, nullptr, 0, true, 1234) {}
    BOOL OnInitDialog() override
    {
        inits++;
        CDlg::OnInitDialog();
        PostMessageW(Window(), WM_COMMAND, 9, 0);
        PostMessageW(Window(), WM_COMMAND, 7111, 0);
        PostMessageW(Window(), WM_COMMAND, IDOK, 0);
        return FALSE;
    }
    bool OnCommandId(int id) override
    {
        commands.push_back(id);
        return true;
    }
    int inits = 0;
    std::vector<int> commands;
};

LONG g_probeStyle = 0;
std::wstring g_probeFace;

// Notes the dialog's style and font, and ends it.
INT_PTR CALLBACK probe_procedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    g_probeStyle = GetWindowLongW(dialog, GWL_STYLE);
    LONG height = 0;
    g_probeFace = font_face(dialog, &height);
    EndDialog(dialog, 5);
    return TRUE;
}

std::vector<std::wstring> g_boxes;
int record_box(int, HWND, const QlStr& text, const QlStr& caption, UINT)
{
    g_boxes.push_back(std::wstring(caption.Text()) + L": " + text.Text());
    return IDOK;
}

}  // namespace

TEST(DlgWin, TemplatesRunInTheMessageFontWithAllTheirControls)
{
    qlDlgFontInitOsVersion();
    HINSTANCE module = GetModuleHandleW(nullptr);
    LOGFONTW message;
    int points = 0;
    qlDlgFontGetMessageFont(&message, &points);
    ASSERT_GT(points, 0);
    ASSERT_TRUE(qlDlgFontReadOsVersion().nt6_or_later) << "the test expects a Windows 6.0 or later prefix";
    ASSERT_TRUE(qlDlgNeedsFontSubstitution(module));
    HDC screen = GetDC(nullptr);
    LONG expected_height = MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);

    for (int id : {kClassic, kExtended, kNoFont}) {
        SCOPED_TRACE(id);
        qlTakeHookReports();
        HWND dialog = qlDlgCreateDialogParam(module, MAKEINTRESOURCEW(id), nullptr, quiet_procedure, 0);
        ASSERT_NE(nullptr, dialog);
        EXPECT_TRUE(qlTakeHookReports().empty());
        for (int control : {7110, 7111, IDOK, 9})
            EXPECT_NE(nullptr, GetDlgItem(dialog, control)) << "control " << control;
        wchar_t text[80];
        GetDlgItemTextW(dialog, IDOK, text, 80);
        EXPECT_STREQ(L"&OK", text);
        LONG height = 0;
        EXPECT_EQ(std::wstring(message.lfFaceName), font_face(dialog, &height));
        EXPECT_EQ(expected_height, height);
        DestroyWindow(dialog);
    }
}

TEST(DlgWin, DialogObjectPassesEveryMessageThroughTheCommonHandler)
{
    HostScope host;
    PressingDialog dialog(kClassic);
    EXPECT_EQ(1, dialog.DoModal());
    EXPECT_EQ(1, dialog.inits);
    EXPECT_EQ(nullptr, dialog.Window()) << "the window is forgotten after the run";
    // Help (9) is answered by the dialog itself when the handler leaves it;
    // other commands reach OnCommandId; OK ends the dialog.
    EXPECT_EQ(std::vector<int>({7111}), dialog.commands);
    ASSERT_EQ(4u, g_seen.size());
    EXPECT_EQ(static_cast<UINT>(WM_INITDIALOG), g_seen[0].message);
    EXPECT_EQ(9u, g_seen[1].message);
    EXPECT_EQ(static_cast<UINT>(IDOK), g_seen[3].message);
    for (const Seen& s : g_seen)
        EXPECT_EQ(1234, s.help_id);
    EXPECT_EQ(1, suspended) << "the busy state is lifted around the modal run";
    EXPECT_EQ(7, resumed);
}

TEST(DlgWin, HandledMessagesStopAtTheCommonHandler)
{
    HostScope host;
    g_handledId = 7111;
    PressingDialog dialog(kExtended);
    EXPECT_EQ(1, dialog.DoModal());
    EXPECT_TRUE(dialog.commands.empty());
}

TEST(DlgWin, StyleBitsReachTheDialog)
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    g_probeStyle = 0;
    EXPECT_EQ(5, qlDlgDialogBoxParam(module, MAKEINTRESOURCEW(kNoFont), nullptr, probe_procedure, 0,
                                     WS_THICKFRAME));
    EXPECT_TRUE(g_probeStyle & WS_THICKFRAME);
    g_probeStyle = 0;
    EXPECT_EQ(5, dialog_box_with_style(module, MAKEINTRESOURCEW(kClassic), nullptr, probe_procedure, 0,
                                       WS_THICKFRAME));
    EXPECT_TRUE(g_probeStyle & WS_THICKFRAME);
    g_probeStyle = 0;
    EXPECT_EQ(5, dialog_box_with_font(module, MAKEINTRESOURCEW(kExtended), nullptr, probe_procedure, 0,
                                      L"Courier New", 10));
    EXPECT_EQ(L"Courier New", g_probeFace);
}

TEST(DlgWin, MissingTemplatesFailOnTheirOwnRoads)
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    // The library's road: assertion reports, -1 or null.
    qlTakeHookReports();
    EXPECT_EQ(-1, qlDlgDialogBoxParam(module, MAKEINTRESOURCEW(kMissing), nullptr, quiet_procedure, 0));
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ("Dlg", reports[0].source);
    EXPECT_EQ(nullptr, qlDlgCreateDialogParam(module, MAKEINTRESOURCEW(kMissing), nullptr, quiet_procedure, 0));
    EXPECT_FALSE(qlTakeHookReports().empty());

    // The font-choosing road: two boxes, the second naming the template.
    g_boxes.clear();
    qlMiscSetMessageBoxHook(record_box);
    EXPECT_EQ(-1, dialog_box_with_font(module, MAKEINTRESOURCEW(kMissing), nullptr, quiet_procedure, 0,
                                       L"Tahoma", 8));
    EXPECT_EQ(nullptr, create_dialog_with_font(module, L"NO_SUCH_PAGE", nullptr, quiet_procedure, 0,
                                               L"Tahoma", 8));
    qlMiscSetMessageBoxHook(nullptr);
    ASSERT_EQ(4u, g_boxes.size());
    EXPECT_EQ(L"xxdmsg: Internal Error: FindResource failed", g_boxes[0]);
    EXPECT_EQ(L"xxdmsg: Internal error: load_dialog_template failed for resource 4711", g_boxes[1]);
    EXPECT_EQ(L"xxdmsg: Internal error: load_dialog_template failed for NO_SUCH_PAGE", g_boxes[3]);
}
