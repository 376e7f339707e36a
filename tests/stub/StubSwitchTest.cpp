// The stub's command-line scans: the relaunch markers, "-info" and "-args=",
// and AUTO, WAIT and NOAUTO of both modes.
#include <gtest/gtest.h>

#include <string>

#include "stub/sfxswitch.h"
#include "tests/support/RecordingHooks.h"

namespace {

std::wstring str(const QlStr& s) { return s.Text() ? std::wstring(s.Text()) : std::wstring(); }

const SfxSwitchWords kWords{QlStr(L"auto"), QlStr(L"Wait"), QlStr(L"NOAUTO")};

const wchar_t kSuffix[] = L" run=1 shortcut=\"C:\\Users\\ann\\Downloads\\pack.exe\"";

TEST(StubSwitches, LineBehindProgram)
{
    struct Row { const wchar_t* line; const wchar_t* behind; } rows[] = {
        {L"\"C:\\A B\\s.exe\" -info", L" -info"},
        {L"C:\\s.exe  two", L"  two"},
        {L"s.exe", L""},
        {L"\"C:\\A B\\s.exe\"", L""},
        {L"\"unclosed", L""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(str(sfx_line_behind_program(QlStr(row.line))), row.behind) << row.line;
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(StubSwitches, RelaunchMarkersAreFoundAtTheEndOnly)
{
    struct Row {
        const wchar_t* user;  // the user's text before the suffix
        bool with_suffix;
        bool found;
        const wchar_t* user_line;
        const wchar_t* shortcut;
        const char* why;
    } rows[] = {
        {L"", true, true, L"", L"C:\\Users\\ann\\Downloads\\pack.exe", "no user arguments"},
        {L" -auto \"C:\\Out Dir\\\"", true, true, L"-auto \"C:\\Out Dir\\\"",
         L"C:\\Users\\ann\\Downloads\\pack.exe", "a quoted folder ending in a backslash"},
        {L" odd \"quote", true, true, L"odd \"quote", L"C:\\Users\\ann\\Downloads\\pack.exe",
         "an odd quote before the markers"},
        {L" x RUN=1", false, true, L"x", L"", "run=1 typed by hand, any case"},
        {L" run=10", false, false, L"run=10", L"", "an argument that merely begins with run=1"},
        {L" \"run=1\"", false, false, L"\"run=1\"", L"", "a quoted run=1 is the user's text"},
        {L" \"a run=1 b\"", false, false, L"\"a run=1 b\"", L"", "run=1 inside quotes"},
        {L" -wait", false, false, L"-wait", L"", "a first instance"},
    };
    for (const Row& row : rows) {
        std::wstring line = row.user;
        if (row.with_suffix)
            line += kSuffix;
        SfxRelaunchMarkers markers = sfx_find_relaunch_markers(QlStr(line.c_str()));
        EXPECT_EQ(markers.found, row.found) << row.why;
        EXPECT_EQ(str(markers.user_line), row.user_line) << row.why;
        EXPECT_EQ(str(markers.shortcut), row.shortcut) << row.why;
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(StubSwitches, InfoAndArgs)
{
    struct Row {
        const wchar_t* line;
        SfxStartupSwitch result;
        const wchar_t* extra;  // the buffer afterwards
        const wchar_t* bad;    // the text for message 1069, when invalid
        const char* why;
    } rows[] = {
        {L"", SfxStartupSwitch::Go, L"", L"", "nothing"},
        {L"one two -info", SfxStartupSwitch::Info, L"", L"", "-info after other words"},
        {L"-INFOx", SfxStartupSwitch::Info, L"", L"", "a prefix, any case"},
        {L"x-info", SfxStartupSwitch::Go, L"", L"", "only at a word's start"},
        {L"-args=\"a b\" /ARGS=\"c\"", SfxStartupSwitch::Go, L"c", L"", "the second value wins"},
        {L"-args=\"a b\" -info", SfxStartupSwitch::Info, L"a b", L"", "-info behind a value"},
        {L"x -args=a b", SfxStartupSwitch::Invalid, L"", L"-args=a b", "no opening quote"},
        {L"-args=\"\" y", SfxStartupSwitch::Invalid, L"", L"-args=\"\" y", "an empty value"},
        {L"-args=\"open", SfxStartupSwitch::Invalid, L"", L"-args=\"open", "no closing quote"},
        {L"-args=", SfxStartupSwitch::Invalid, L"", L"-args=", "nothing behind the switch"},
    };
    for (const Row& row : rows) {
        QlChar extra[257];
        QlStr bad;
        EXPECT_EQ(sfx_scan_startup_switches(QlStr(row.line), extra, 257, &bad), row.result) << row.why;
        EXPECT_EQ(std::wstring(extra), row.extra) << row.why;
        if (row.result == SfxStartupSwitch::Invalid)
            EXPECT_EQ(str(bad), row.bad) << row.why;
    }

    // The buffer holds 256 units and the terminator.
    QlChar extra[257];
    QlStr bad;
    std::wstring fits = L"-args=\"" + std::wstring(256, L'v') + L"\"";
    EXPECT_EQ(sfx_scan_startup_switches(QlStr(fits.c_str()), extra, 257, &bad), SfxStartupSwitch::Go);
    EXPECT_EQ(std::wstring(extra), std::wstring(256, L'v'));
    std::wstring too_long = L"-args=\"" + std::wstring(257, L'v') + L"\"";
    EXPECT_EQ(sfx_scan_startup_switches(QlStr(too_long.c_str()), extra, 257, &bad),
              SfxStartupSwitch::Invalid);
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(StubSwitches, InstallationMode)
{
    struct Row {
        const wchar_t* line;
        bool auto_before;
        bool auto_after;
        bool wait_after;
        const char* why;
    } rows[] = {
        {L"", true, true, false, "nothing changes"},
        {L"/auto", false, true, false, "AUTO after a slash"},
        {L"-AUTOMATIC", false, true, false, "a longer word that begins with AUTO"},
        {L"-wait -noauto", true, true, true, "WAIT ends the scan: auto keeps its value"},
        {L"-noauto", true, false, false, "NOAUTO beats the header's auto"},
        {L"-auto -noauto", false, false, false, "the last word decides"},
        {L"C:\\ann-waite\\x", false, false, true, "a hyphen inside a word is tested too"},
        {L"-auto \"C:\\Out Dir\\\" x", false, true, false, "an odd-looking folder changes nothing"},
    };
    for (const Row& row : rows) {
        SfxSwitchState state{row.auto_before, false, QlStr()};
        sfx_parse_install_switches(QlStr(row.line), kWords, &state);
        EXPECT_EQ(state.auto_start, row.auto_after) << row.why;
        EXPECT_EQ(state.wait_for_done, row.wait_after) << row.why;
    }
    // What the first instance appends never reaches the scan: the folder of
    // the original may be named like a switch.
    std::wstring copy_line = std::wstring(L"-auto") +
                             L" run=1 shortcut=\"C:\\Users\\ann-waite\\pack.exe\"";
    SfxRelaunchMarkers markers = sfx_find_relaunch_markers(QlStr(copy_line.c_str()));
    SfxSwitchState state{false, false, QlStr()};
    sfx_parse_install_switches(markers.user_line, kWords, &state);
    EXPECT_TRUE(state.auto_start);
    EXPECT_FALSE(state.wait_for_done);
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(StubSwitches, StandardMode)
{
    struct Row {
        const wchar_t* line;
        bool auto_after;
        const wchar_t* folder;
        const char* why;
    } rows[] = {
        {L"-auto \"C:\\My Folder\"", true, L"C:\\My Folder", "a quoted folder keeps its blank"},
        {L"-auto C:\\Out -noauto", true, L"C:\\Out -noauto", "an unquoted value takes all the rest"},
        {L"-auto \"C:\\Out -noauto", false, L"C:\\Out", "no closing quote: up to the next switch"},
        {L"/AUTO", true, L"", "no folder"},
        {L"-noauto -auto C:\\x", false, L"", "NOAUTO ends the scan"},
        {L"-auto \"C:\\A\" -auto \"C:\\B\"", true, L"C:\\B", "the scan goes on behind the quote"},
        {L"-auto \"C:\\Out Dir\\\"", true, L"C:\\Out Dir\\", "a folder ending in a backslash"},
    };
    for (const Row& row : rows) {
        SfxSwitchState state{false, false, QlStr()};
        sfx_parse_standard_switches(QlStr(row.line), kWords, 260, &state);
        EXPECT_EQ(state.auto_start, row.auto_after) << row.why;
        EXPECT_EQ(str(state.folder), row.folder) << row.why;
    }
    // A folder longer than the dialog's field switches AUTO off.
    std::wstring long_line = L"-auto " + std::wstring(261, L'f');
    SfxSwitchState state{false, false, QlStr()};
    sfx_parse_standard_switches(QlStr(long_line.c_str()), kWords, 260, &state);
    EXPECT_FALSE(state.auto_start);
    EXPECT_EQ(str(state.folder), L"");

    // "-auto" as the last user word must not take the markers as its folder.
    std::wstring copy_line = std::wstring(L"-auto") +
                             L" run=1 shortcut=\"C:\\Users\\ann\\pack.exe\"";
    SfxRelaunchMarkers markers = sfx_find_relaunch_markers(QlStr(copy_line.c_str()));
    SfxSwitchState copy_state{false, false, QlStr()};
    sfx_parse_standard_switches(markers.user_line, kWords, 260, &copy_state);
    EXPECT_TRUE(copy_state.auto_start);
    EXPECT_EQ(str(copy_state.folder), L"");
    EXPECT_TRUE(qlTakeHookReports().empty());
}

}  // namespace
