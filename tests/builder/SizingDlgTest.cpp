// The resizable dialog classes on a test dialog under Wine: the anchored
// controls after a resize, the size grip, the minimum size, and the
// placement written to the settings and read back by the next run.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "builder/sfxoptions.h"
#include "builder/ui/cdlg.h"
#include "common/QlWin32.h"
#include "tests/support/RecordingHooks.h"

namespace {

const int kTemplate = 7000;

// The test dialog: anchors for every kind of control; the test's script
// runs once the dialog is up, then the dialog ends.
class TestDialog : public CSizingDlg {
public:
    explicit TestDialog(const std::function<void(TestDialog&)>& script) : CSizingDlg(kTemplate), script_(script) {}
    BOOL OnInitDialog() override
    {
        BOOL result = CSizingDlg::OnInitDialog();
        AddAnchor(7003, kAnchorKeep, kAnchorKeep);     // the label stays
        AddAnchor(7001, kAnchorWidth, kAnchorKeep);    // the name field widens
        AddAnchor(7002, kAnchorBoth, kAnchorKeep);     // the list grows both ways
        AddAnchor(7004, kAnchorKeep, kAnchorHeight);   // moves down
        AddAnchor(7005, kAnchorWidth, kAnchorHeight);  // widens and moves down
        AddAnchor(IDOK, kAnchorKeep, kAnchorBoth);     // the buttons keep the corner
        AddAnchor(IDCANCEL, kAnchorKeep, kAnchorBoth);
        RestoreState();
        PostMessageW(window_, WM_APP, 0, 0);
        return result;
    }
    INT_PTR DefaultHandler(UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_APP) {
            script_(*this);
            EndDialog(window_, IDOK);
        }
        return 0;
    }
    // A control's rectangle in the dialog's client coordinates.
    RECT Control(int id) const
    {
        RECT r;
        GetWindowRect(GetDlgItem(window_, id), &r);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    RECT Client() const
    {
        RECT r;
        GetClientRect(window_, &r);
        return r;
    }
    RECT Frame() const
    {
        RECT r;
        GetWindowRect(window_, &r);
        return r;
    }
    void Resize(int width, int height) const
    {
        SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

private:
    std::function<void(TestDialog&)> script_;
};

int width(const RECT& r) { return r.right - r.left; }
int height(const RECT& r) { return r.bottom - r.top; }

std::string text(const RECT& r)
{
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

class SizingDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_os_ = g_os;
        g_os = OsVersionFlags();
        g_os.nt_family = g_os.win2000_or_later = g_os.xp_or_later = true;
        name_ = L"SizingTest" + std::to_wstring(GetCurrentProcessId());
        Forget();
        qlTakeHookReports();
    }
    void TearDown() override
    {
        Forget();
        g_os = saved_os_;
    }
    void Forget()
    {
        qlWin32WritePrivateProfileString(QlStr(kSizingSection), QlStr(name_.c_str()), QlStr(), QlStr(kSizingProfile));
    }
    bool Saved(QlSavedPlacement* p)
    {
        return qlWin32GetPrivateProfileStruct(QlStr(kSizingSection), QlStr(name_.c_str()), p, sizeof *p,
                                              QlStr(kSizingProfile));
    }
    INT_PTR Run(const std::function<void(TestDialog&)>& script)
    {
        TestDialog dialog(script);
        dialog.SetStateName(name_.c_str());
        return dialog.DoModal();
    }

    OsVersionFlags saved_os_;
    std::wstring name_;
};

}  // namespace

TEST_F(SizingDialog, AnchoredControlsGripMinimumAndSavedPlacement)
{
    RECT final_frame = {};
    int final_name_width = 0;
    ASSERT_EQ(IDOK, Run([&](TestDialog& d) {
        RECT name = d.Control(7001), list = d.Control(7002), label = d.Control(7003), options = d.Control(7004),
             second = d.Control(7005), ok = d.Control(IDOK), cancel = d.Control(IDCANCEL);
        RECT frame = d.Frame();
        EXPECT_TRUE(GetWindowLongW(d.Window(), GWL_STYLE) & WS_THICKFRAME);
        // The grip: a size-box scroll bar in the client area's corner.
        HWND grip = GetDlgItem(d.Window(), kSizeGripId);
        ASSERT_NE(nullptr, grip);
        wchar_t kind[32] = {0};
        GetClassNameW(grip, kind, 32);
        EXPECT_STREQ(L"ScrollBar", kind);
        EXPECT_EQ(0x50000008, GetWindowLongW(grip, GWL_STYLE) & 0x5000FFFF);
        EXPECT_EQ(d.Client().right, d.Control(kSizeGripId).right);
        EXPECT_EQ(d.Client().bottom, d.Control(kSizeGripId).bottom);
        EXPECT_EQ(width(frame), d.InitialSize().cx);
        EXPECT_EQ(8, d.AnchorCount()) << "seven controls and the grip";

        d.Resize(width(frame) + 100, height(frame) + 60);
        const int dx = width(d.Frame()) - width(frame), dy = height(d.Frame()) - height(frame);
        ASSERT_EQ(100, dx);
        ASSERT_EQ(60, dy);
        EXPECT_EQ(text(label), text(d.Control(7003))) << "the label stays";
        EXPECT_EQ(text(RECT{name.left, name.top, name.right + dx, name.bottom}), text(d.Control(7001)));
        EXPECT_EQ(text(RECT{list.left, list.top, list.right + dx, list.bottom + dy}), text(d.Control(7002)));
        EXPECT_EQ(text(RECT{options.left, options.top + dy, options.right, options.bottom + dy}),
                  text(d.Control(7004)));
        EXPECT_EQ(text(RECT{second.left, second.top + dy, second.right + dx, second.bottom + dy}),
                  text(d.Control(7005))) << "widens and moves down";
        EXPECT_EQ(text(RECT{ok.left + dx, ok.top + dy, ok.right + dx, ok.bottom + dy}), text(d.Control(IDOK)));
        EXPECT_EQ(text(RECT{cancel.left + dx, cancel.top + dy, cancel.right + dx, cancel.bottom + dy}),
                  text(d.Control(IDCANCEL)));
        EXPECT_EQ(d.Client().right, d.Control(kSizeGripId).right) << "the grip keeps the corner";
        EXPECT_EQ(d.Client().bottom, d.Control(kSizeGripId).bottom);

        // Below its first size the dialog is held at it, and every control
        // is back where it began.
        d.Resize(40, 30);
        EXPECT_EQ(width(frame), width(d.Frame()));
        EXPECT_EQ(height(frame), height(d.Frame()));
        EXPECT_EQ(text(name), text(d.Control(7001)));
        EXPECT_EQ(text(ok), text(d.Control(IDOK)));

        SetWindowPos(d.Window(), nullptr, 30, 40, width(frame) + 40, height(frame) + 20, SWP_NOZORDER);
        final_frame = d.Frame();
        final_name_width = width(d.Control(7001));
    }));
    QlSavedPlacement saved = {};
    ASSERT_TRUE(Saved(&saved));
    EXPECT_EQ(text(final_frame), text(RECT{saved.left, saved.top, saved.right, saved.bottom}));
    EXPECT_EQ(0, saved.zoomed);
    EXPECT_EQ(0u, saved.session);

    // The next run comes up where this one ended, its controls anchored to
    // that size.
    ASSERT_EQ(IDOK, Run([&](TestDialog& d) {
        EXPECT_EQ(text(final_frame), text(d.Frame()));
        EXPECT_EQ(final_name_width, width(d.Control(7001)));
    }));
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST_F(SizingDialog, PlacementOfAnotherSessionOrUnusableIsCentred)
{
    struct Row {
        const char* why;
        QlSavedPlacement placement;
    } rows[] = {
        {"another session", {10, 10, 500, 400, 0, 12345}},
        {"a negative edge", {-600, -500, -10, -10, 0, 0}},
        {"no width", {100, 100, 50, 400, 0, 0}},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(qlWin32WritePrivateProfileStruct(QlStr(kSizingSection), QlStr(name_.c_str()), &r.placement,
                                                     sizeof r.placement, QlStr(kSizingProfile)));
        Run([&](TestDialog& d) {
            RECT frame = d.Frame();
            EXPECT_EQ(d.InitialSize().cx, width(frame)) << r.why;
            EXPECT_NE(r.placement.left, frame.left) << r.why;
            // Centred on the work area (the dialog has no owner).
            RECT work;
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            EXPECT_LE(std::abs((frame.left + frame.right) / 2 - (work.left + work.right) / 2), 1) << r.why;
        });
    }
}

// Windows 95 and NT 4: no thick frame, no grip, and the placement is not used.
TEST_F(SizingDialog, NotResizableOnOlderSystems)
{
    QlSavedPlacement placement = {10, 10, 600, 500, 0, 0};
    ASSERT_TRUE(qlWin32WritePrivateProfileStruct(QlStr(kSizingSection), QlStr(name_.c_str()), &placement,
                                                 sizeof placement, QlStr(kSizingProfile)));
    g_os = OsVersionFlags();
    g_os.nt_family = true;  // NT 4
    Run([&](TestDialog& d) {
        EXPECT_FALSE(d.Resizable());
        EXPECT_FALSE(GetWindowLongW(d.Window(), GWL_STYLE) & WS_THICKFRAME);
        EXPECT_EQ(nullptr, GetDlgItem(d.Window(), kSizeGripId));
        EXPECT_EQ(d.InitialSize().cx, width(d.Frame()));
        EXPECT_NE(10, d.Frame().left);
    });
}

TEST(ControlAnchor, FlagCombinations)
{
    struct Row {
        uint8_t size, position;
        bool valid;
    } rows[] = {
        {kAnchorKeep, kAnchorKeep, true},    {kAnchorKeep, kAnchorBoth, true},   {kAnchorWidth, kAnchorHeight, true},
        {kAnchorHeight, kAnchorWidth, true}, {kAnchorBoth, kAnchorKeep, true},   {kAnchorWidth, kAnchorKeep, true},
        {kAnchorWidth, kAnchorWidth, false}, {kAnchorHeight, kAnchorBoth, false}, {kAnchorBoth, kAnchorWidth, false},
        {kAnchorKeep | kAnchorWidth, kAnchorKeep, false}, {kAnchorWidth, kAnchorKeep | kAnchorHeight, false},
        {0, kAnchorKeep, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.valid, QlControlAnchor::ValidFlags(r.size, r.position)) << int(r.size) << "/" << int(r.position);
    qlTakeHookReports();
    QlControlAnchor refused(nullptr, kAnchorWidth, kAnchorWidth);
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("cdlg", reports[0].source);
}

TEST(SizingComDialog, ViewCommands)
{
    struct Row {
        int view, controls;
        bool me;
        int command;
    } rows[] = {
        {0, 600, false, 28713}, {1, 600, false, 28716}, {2, 580, false, 28714}, {3, 580, false, 28715},
        {4, 600, false, 28718}, {5, 600, false, 28717}, {5, 580, true, 28715},  {5, 580, false, 28721},
        {6, 600, false, -1},    {-1, 600, false, -1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.command, sizing_view_command(r.view, r.controls, r.me)) << r.view << " " << r.controls;
}
