// The wizard's rules without windows: the way through the pages in both
// modes, Finish on each page, the checks of commands and 'Wait for', and the
// texts made from the values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/ui/wizrules.h"

namespace {

QlStr S(const char* text)
{
    QlStr s;
    for (; *text; ++text)
        s += static_cast<QlChar>(static_cast<unsigned char>(*text));
    return s;
}

std::string N(const QlStr& s)
{
    std::string out;
    for (int i = 0; i < s.Length(); ++i)
        out += static_cast<char>(s.CharAt(i));
    return out;
}

std::vector<std::string> walk(WizRoute route, bool forward)
{
    std::vector<std::string> names;
    WizPage page = forward ? WizPage::Welcome : WizPage::Done;
    for (int i = 0; i < kWizPageCount; ++i) {
        names.push_back(wiz_template_name(page));
        if (forward && page == WizPage::Done)
            break;
        if (!forward && page == WizPage::Welcome)
            break;
        page = forward ? wiz_next_page(page, route) : wiz_back_page(page, route);
    }
    return names;
}

struct RouteCase {
    const char* why;
    WizRoute route;
    std::vector<std::string> pages;
};

}  // namespace

TEST(WizRules, PageOrderInBothModes)
{
    const std::vector<std::string> kHead = {"WIZ_WELCOME", "WIZ_PANEL1", "WIZ_SPANN_CHECK"};
    const std::vector<std::string> kTail = {"WIZ_GENERIC", "WIZ_BUILD", "WIZ_TEST", "WIZ_DONE"};
    auto join = [&](std::vector<std::string> middle) {
        std::vector<std::string> all = kHead;
        all.insert(all.end(), middle.begin(), middle.end());
        all.insert(all.end(), kTail.begin(), kTail.end());
        return all;
    };
    const RouteCase kCases[] = {
        {"standard, NT", {false, false, true},
         join({"WIZ_GETFILE", "WIZ_GETDIZ", "WIZ_GETDIR", "WIZ_COMMAND", "WIZ_GETABOUT", "WIZ_GETICO", "WIZ_MISC"})},
        {"standard, 9x: no icon page", {false, false, false},
         join({"WIZ_GETFILE", "WIZ_GETDIZ", "WIZ_GETDIR", "WIZ_COMMAND", "WIZ_GETABOUT", "WIZ_MISC"})},
        {"standard, spanning", {false, true, true},
         join({"WIZ_SPANN", "WIZ_GETFILE", "WIZ_GETDIZ", "WIZ_GETDIR", "WIZ_COMMAND", "WIZ_GETABOUT", "WIZ_GETICO",
               "WIZ_MISC"})},
        {"installation, NT", {true, false, true},
         join({"WIZ_GETFILE", "WIZ_GETDIZ", "WIZ_PROMISC", "WIZ_PROCMD", "WIZ_PROFILES", "WIZ_GETABOUT", "WIZ_GETICO"})},
        {"installation, 9x", {true, false, false},
         join({"WIZ_GETFILE", "WIZ_GETDIZ", "WIZ_PROMISC", "WIZ_PROCMD", "WIZ_PROFILES", "WIZ_GETABOUT"})},
        {"installation, spanning", {true, true, true},
         join({"WIZ_SPANN", "WIZ_GETFILE", "WIZ_GETDIZ", "WIZ_PROMISC", "WIZ_PROCMD", "WIZ_PROFILES", "WIZ_GETABOUT",
               "WIZ_GETICO"})},
    };
    for (const RouteCase& c : kCases) {
        EXPECT_EQ(walk(c.route, true), c.pages) << c.why;
        // Back retraces Next, but from the last pages, which go back to the
        // test page and the summary rather than through the build.
        std::vector<std::string> back = c.pages;
        back.erase(back.end() - 3);  // WIZ_BUILD
        std::vector<std::string> reversed(back.rbegin(), back.rend());
        EXPECT_EQ(walk(c.route, false), reversed) << c.why;
    }
    EXPECT_EQ(wiz_next_page(WizPage::Done, {}), WizPage::Panel1) << "another pass starts at the mode";
}

TEST(WizRules, FinishOnEntry)
{
    const struct {
        WizPage page;
        bool installation;
        WizFinish finish;
    } kCases[] = {
        {WizPage::Panel1, false, WizFinish::Disable},
        {WizPage::SpannCheck, false, WizFinish::Disable},
        {WizPage::Spann, true, WizFinish::Disable},
        {WizPage::GetFile, false, WizFinish::Enable},
        {WizPage::GetFile, true, WizFinish::Disable},
        {WizPage::GetDiz, true, WizFinish::Leave},
        {WizPage::ProMisc, true, WizFinish::Leave},
        {WizPage::ProCmd, true, WizFinish::Disable},
        {WizPage::Profiles, true, WizFinish::Enable},
        {WizPage::GetAbout, false, WizFinish::Leave},
        {WizPage::Misc, false, WizFinish::Leave},
        {WizPage::Generic, false, WizFinish::Enable},
        {WizPage::Generic, true, WizFinish::Enable},
        {WizPage::Test, false, WizFinish::Disable},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(wiz_finish_on_entry(c.page, c.installation), c.finish) << wiz_template_name(c.page);
    EXPECT_EQ(wiz_heading_id(WizPage::GetFile, false), 4150);
    EXPECT_EQ(wiz_heading_id(WizPage::GetFile, true), 0);
    EXPECT_EQ(wiz_help_id(WizPage::Done), 121);
    EXPECT_EQ(wiz_help_id(WizPage::Build), 113);
}

TEST(WizRules, CommandCheck)
{
    const struct {
        const char* command;
        const char* zip;
        bool installation;
        WizCommandVerdict verdict;
        bool inf;
        const char* why;
    } kCases[] = {
        {"setup", "C:\\x\\setup.zip", true, WizCommandVerdict::SameAsZip, false, "the Zip's own name"},
        {"SETUP.EXE /q", "C:\\x\\setup.zip", true, WizCommandVerdict::SameAsZip, false, "its name with .exe, any case"},
        {"\"setup.exe\"", "setup", true, WizCommandVerdict::SameAsZip, false, "quoted"},
        {"setup", "C:\\x\\setup.zip", false, WizCommandVerdict::SameAsZip, false, "standard mode too"},
        {".\\setup.exe", "C:\\x\\setup.zip", true, WizCommandVerdict::Ok, false, "the default command runs the entry"},
        {"install.inf", "C:\\x\\in.zip", true, WizCommandVerdict::Ok, true, "an inf file"},
        {"INSTALL.INF", "in.zip", true, WizCommandVerdict::Ok, true, "inf in any case"},
        {"run.bat arg", "in.zip", true, WizCommandVerdict::Ok, false, "bat"},
        {"prog.pif", "in.zip", true, WizCommandVerdict::Ok, false, "pif"},
        {"prog.com", "in.zip", true, WizCommandVerdict::Ok, false, "com"},
        {"setup", "in.zip", true, WizCommandVerdict::Ok, false, "no extension"},
        {"readme.txt", "in.zip", true, WizCommandVerdict::NotInstallCommand, false, "a document cannot install"},
        {"\"my dir\\prog.cmd\" x", "in.zip", true, WizCommandVerdict::NotInstallCommand, false, "cmd is not listed"},
        {"readme.txt", "in.zip", false, WizCommandVerdict::AskAssociation, false, "standard: the association decides"},
        {"notepad", "in.zip", false, WizCommandVerdict::Ok, false, "standard, no extension"},
        {"dir.x\\prog", "in.zip", true, WizCommandVerdict::Ok, false, "a dot in a folder is no extension"},
    };
    for (const auto& c : kCases) {
        WizCommandCheck check = wiz_check_command_text(S(c.command), S(c.zip), c.installation);
        EXPECT_EQ(check.verdict, c.verdict) << c.why;
        EXPECT_EQ(check.inf, c.inf) << c.why;
    }
    EXPECT_EQ(N(wiz_check_command_text(S("readme.txt"), S("a.zip"), false).extension), "txt");
}

TEST(WizRules, WaitForValue)
{
    EXPECT_TRUE(wiz_wait_for_valid(S("")));
    EXPECT_TRUE(wiz_wait_for_valid(S("RUNONCE")));
    EXPECT_TRUE(wiz_wait_for_valid(S("ABCDEFGH"))) << "8 characters";
    EXPECT_FALSE(wiz_wait_for_valid(S("ABCDEFGHI"))) << "9 characters";
    EXPECT_FALSE(wiz_wait_for_valid(S("a.exe"))) << "a file type";
    EXPECT_FALSE(wiz_wait_for_valid(S("."))) << "a dot alone";
}

TEST(WizRules, Texts)
{
    EXPECT_EQ(N(wiz_shorten_command(S("1234567890123456789012345678901"))), "1234567890123456789012345678901")
        << "31 characters stay whole";
    EXPECT_EQ(N(wiz_shorten_command(S("12345678901234567890123456789012"))), "12345678901234567890123456789...")
        << "32 characters: 29 and the dots";
    EXPECT_EQ(N(wiz_with_zip_extension(S("C:\\files\\data"))), "C:\\files\\data.zip");
    EXPECT_EQ(N(wiz_with_zip_extension(S("C:\\my.files\\data"))), "C:\\my.files\\data.zip");
    EXPECT_EQ(N(wiz_with_zip_extension(S("data.zip"))), "data.zip");
    EXPECT_EQ(N(wiz_with_zip_extension(S("data.zipx"))), "data.zipx");
    EXPECT_EQ(N(wiz_with_zip_extension(S("data.txt"))), "data.txt") << "the check refuses it with its message";
    EXPECT_EQ(N(wiz_default_text_file(S("C:\\z\\pack.zip"), WizTextFile::Greeting, S("message.txt"))),
              "pack.message.txt");
    EXPECT_EQ(N(wiz_default_text_file(S("C:\\z\\pack.zip"), WizTextFile::About, S("about.txt"))), "pack.about.txt");
    EXPECT_EQ(N(wiz_default_text_file(S("C:\\z\\pack.zip"), WizTextFile::DialogText, S("dialog.txt"))),
              "C:\\z\\packdialog.txt");
    EXPECT_EQ(N(wiz_archiver_command(S("\"C:\\Quolla\\quolla.exe\" \"%1\""), S("C:\\z\\new"))),
              "\"C:\\Quolla\\quolla.exe\" \"C:\\z\\new.zip\"");
    EXPECT_EQ(N(wiz_archiver_command(S("C:\\Quolla\\quolla.exe \"%1\" /x"), S(""))), "C:\\Quolla\\quolla.exe");
    EXPECT_EQ(N(wiz_archiver_command(S("quolla.exe"), S("a.zip"))), "quolla.exe \"a.zip\"");
    EXPECT_EQ(N(wiz_quoted(S("C:\\a b\\x.exe"))), "\"C:\\a b\\x.exe\"");
    EXPECT_EQ(N(wiz_quoted(S("\"C:\\x.exe\""))), "\"C:\\x.exe\"");
}
