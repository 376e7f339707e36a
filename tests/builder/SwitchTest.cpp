// The builder's command line: every switch and '@' response file against the
// option record, the result and the messages shown.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BuilderTestFiles.h"
#include "builder/sfxoptions.h"
#include "builder/switches.h"
#include "builder/ui/msgsink.h"
#include "tests/support/RecordingHooks.h"

namespace {

std::wstring text(const QlStr& s)
{
    return s.Text() ? std::wstring(s.Text(), s.Length()) : std::wstring();
}

struct SwitchCase {
    const wchar_t* line;
    int result;
    std::vector<int> messages;
    std::function<void()> check;  // the record after the parse
};

class BuilderSwitches : public ::testing::Test {
protected:
    void SetUp() override
    {
        msgsink_record_in_memory(true);
        qlTakeHookReports();
    }
    void TearDown() override
    {
        msgsink_record_in_memory(false);
        EXPECT_TRUE(qlTakeHookReports().empty());
    }

    // Parses line on a fresh record (Windows NT family); answers the ids shown.
    std::vector<int> Parse(const std::wstring& line, int& result)
    {
        reset_options();
        g_os = OsVersionFlags();
        g_os.nt_family = true;
        result = parse_builder_switches_guarded(QlStr(line.c_str()));
        std::vector<int> ids;
        for (const SinkRecord& r : msgsink_take_records())
            ids.push_back(r.id);
        return ids;
    }

    void RunTable(const std::vector<SwitchCase>& cases)
    {
        for (const SwitchCase& c : cases) {
            SCOPED_TRACE(testing::Message() << "line: " << std::string(c.line, c.line + wcslen(c.line)));
            int result = -1;
            std::vector<int> ids = Parse(c.line, result);
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(ids, c.messages);
            if (c.check)
                c.check();
        }
    }

    TestFolder files_;
};

#define EXPECT_TEXT(field, expected) EXPECT_EQ(text(field), std::wstring(expected))

TEST_F(BuilderSwitches, FlagsAndBuildRequests)
{
    const SfxOptions& o = g_options;
    const SfxBuildSettings& s = g_settings;
    RunTable({
        {L"", kSwitchesNone, {}, nullptr},
        {L"-oem -wipedisk -noabout -argv0", kSwitchesWizard, {},
         [&] { EXPECT_TRUE(s.oem && o.wipe_disks && s.no_about_button && o.argv0); }},
        {L"/NOCRC -Silent -AUTO -noac -k", kSwitchesWizard, {},
         [&] { EXPECT_TRUE(o.no_crc && o.silent && o.auto_unzip && !o.pe_section && o.option_k); }},
        {L"-nooverwrite", kSwitchesWizard, {}, [&] { EXPECT_FALSE(o.overwrite); }},
        {L"-nooverwrite -overwrite", kSwitchesWizard, {}, [&] { EXPECT_TRUE(o.overwrite); }},
        {L"-lg", kSwitchesWizard, {}, [&] { EXPECT_EQ(o.language, 1); }},
        {L"-LGerman", kSwitchesWizard, {}, [&] { EXPECT_EQ(o.language, 1); }},
        {L"-lg -le", kSwitchesWizard, {}, [&] { EXPECT_EQ(o.language, 0); }},
        {L"-lg -l", kSwitchesWizard, {}, [&] { EXPECT_EQ(o.language, 0); }},
        {L"-setup -c setup.exe", kSwitchesBuild, {},
         [&] { EXPECT_TRUE(o.installation_mode && s.prompts_off && o.run_as_admin); }},
        {L"-setup -runasuser -c x", kSwitchesBuild, {}, [&] { EXPECT_FALSE(o.run_as_admin); }},
        {L"-runasadmin", kSwitchesWizard, {}, [&] { EXPECT_TRUE(o.run_as_admin); }},
        {L"-ishield3", kSwitchesBuild, {},
         [&] {
             EXPECT_TRUE(o.installation_mode && s.prompts_off && s.wait_on);
             EXPECT_TEXT(o.command, L"setup");
             EXPECT_TEXT(o.wait_name, L"");
         }},
        {L"-Manual_WAIT -v", kSwitchesWizard, {}, [&] { EXPECT_TRUE(s.manual_wait && s.build_log); }},
        {L"-y", kSwitchesBuild, {}, [&] { EXPECT_TRUE(s.prompts_off); }},
        {L"-3", kSwitchesBuild, {}, [&] { EXPECT_TRUE(o.option_3); }},
        {L"-win32 -y", kSwitchesBuild, {}, [&] { EXPECT_EQ(o.format, 0); }},
        {L"-o", kSwitchesWizard, {}, [&] { EXPECT_TRUE(s.allow_switches_in_command); }},
        // An unknown letter and an -e switch are shown and the parse goes on.
        {L"-x -lg", kSwitchesWizard, {1015}, [&] { EXPECT_EQ(o.language, 1); }},
        {L"-eject -y", kSwitchesBuild, {1008}, nullptr},
        {L"-standard", kSwitchesStop, {6311}, nullptr},
        {L"-compact", kSwitchesStop, {6311}, nullptr},
        {L"-dos", kSwitchesStop, {6311}, nullptr},
        {L"-?", kSwitchesStop, {1005, 1007}, nullptr},
        {L"-dump", kSwitchesStop, {1081}, nullptr},
    });
}

TEST_F(BuilderSwitches, ValuesGluedAndSeparate)
{
    const SfxOptions& o = g_options;
    const SfxBuildSettings& s = g_settings;
    RunTable({
        {L"-st \"My title\"", kSwitchesWizard, {},
         [&] { EXPECT_TEXT(o.title, L"My title"); EXPECT_TRUE(o.title_given); EXPECT_FALSE(o.title_on_setup_button); }},
        {L"-stGlued", kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.title, L"Glued"); }},
        {L"-staGlued", kSwitchesWizard, {},
         [&] { EXPECT_TEXT(o.title, L"Glued"); EXPECT_TRUE(o.title_on_setup_button); }},
        {L"-sta Setup", kSwitchesWizard, {},
         [&] { EXPECT_TEXT(o.title, L"Setup"); EXPECT_TRUE(o.title_on_setup_button); }},
        // A bare -st takes the next token, whatever it is.
        {L"-st -y", kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.title, L"-y"); EXPECT_FALSE(s.prompts_off); }},
        {L"-st", kSwitchesWizard, {}, [&] { EXPECT_FALSE(o.title_given); }},
        {L"-st 1234567890123456789012345678901234567890123456789012345678901234", kSwitchesWizard, {}, nullptr},
        {L"-st 12345678901234567890123456789012345678901234567890123456789012345", kSwitchesStop, {6300}, nullptr},
        {L"-wait ABC", kSwitchesWizard, {}, [&] { EXPECT_TRUE(s.wait_on); EXPECT_TEXT(o.wait_name, L"ABC"); }},
        {L"-waitXY", kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.wait_name, L"XY"); }},
        {L"-wait \"12345678\"", kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.wait_name, L"12345678"); }},
        {L"-wait 123456789", kSwitchesStop, {4710}, nullptr},
        {L"-wait", kSwitchesStop, {4700}, nullptr},
        {L"-d C:\\Out", kSwitchesBuild, {}, [&] { EXPECT_TEXT(o.default_folder, L"C:\\Out"); }},
        {L"-dC:\\Glued", kSwitchesBuild, {}, [&] { EXPECT_TEXT(o.default_folder, L"C:\\Glued"); }},
        {L"-d \"C:\\With blank\"", kSwitchesBuild, {}, [&] { EXPECT_TEXT(o.default_folder, L"C:\\With blank"); }},
        {L"-d -y", kSwitchesStop, {1010}, [&] { EXPECT_FALSE(s.prompts_off); }},
        {L"-d", kSwitchesStop, {1010}, nullptr},
        {L"-z", kSwitchesStop, {1009}, nullptr},
        {L"-zcomment.txt", kSwitchesWizard, {},
         [&] { EXPECT_TRUE(s.comment_on); EXPECT_TEXT(s.comment_file, L"comment.txt"); }},
        {L"-i app.ico", kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.icon_file, L"app.ico"); }},
        {L"-i", kSwitchesStop, {4290}, nullptr},
        {L"-t", kSwitchesStop, {4290}, nullptr},
        {L"-a", kSwitchesStop, {4290}, nullptr},
        {L"-f", kSwitchesStop, {1013}, nullptr},
        {L"-f nosuch.exe", kSwitchesStop, {1013}, [&] { EXPECT_FALSE(s.custom_stub); }},
    });
    std::wstring longFolder(kSfxMaxDefaultFolder, L'd');
    RunTable({
        {(L"-d " + longFolder).c_str(), kSwitchesBuild, {}, nullptr},
        {(L"-d " + longFolder + L"d").c_str(), kSwitchesStop, {1011}, nullptr},
    });
}

TEST_F(BuilderSwitches, GreetingSwitches)
{
    const SfxOptions& o = g_options;
    const SfxBuildSettings& s = g_settings;
    RunTable({
        {L"-m hello.txt", kSwitchesBuild, {},
         [&] { EXPECT_TRUE(s.greeting_wanted); EXPECT_TEXT(o.greeting_file, L"hello.txt"); EXPECT_FALSE(o.greeting_buttons); }},
        {L"-mhello.txt", kSwitchesBuild, {}, [&] { EXPECT_TEXT(o.greeting_file, L"hello.txt"); }},
        {L"-myesno q.txt", kSwitchesBuild, {},
         [&] { EXPECT_TRUE(o.greeting_buttons); EXPECT_FALSE(o.greeting_ok_cancel); EXPECT_TEXT(o.greeting_file, L"q.txt"); }},
        {L"-mokcancel \"a b.txt\"", kSwitchesBuild, {},
         [&] { EXPECT_TRUE(o.greeting_buttons && o.greeting_ok_cancel); EXPECT_TEXT(o.greeting_file, L"a b.txt"); }},
        {L"-mok ok.txt", kSwitchesBuild, {}, [&] { EXPECT_FALSE(o.greeting_buttons); EXPECT_TEXT(o.greeting_file, L"ok.txt"); }},
        // A bare -m before a switch: the default greeting file, and the switch still counts.
        {L"-m -lg", kSwitchesBuild, {},
         [&] { EXPECT_TRUE(s.greeting_wanted); EXPECT_TEXT(o.greeting_file, L""); EXPECT_EQ(o.language, 1); }},
        {L"-myesno", kSwitchesBuild, {}, [&] { EXPECT_TRUE(o.greeting_buttons); }},
    });
}

TEST_F(BuilderSwitches, CommandTakesTheRestOfTheLine)
{
    const SfxOptions& o = g_options;
    RunTable({
        {L"-c setup.exe", kSwitchesBuild, {}, [&] { EXPECT_TEXT(o.command, L"setup.exe"); }},
        {L"-csetup.exe", kSwitchesBuild, {}, [&] { EXPECT_TEXT(o.command, L"setup.exe"); }},
        {L"-c \"C:\\Program Files\\x.exe\" arg", kSwitchesBuild, {},
         [&] { EXPECT_TEXT(o.command, L"\"C:\\Program Files\\x.exe\" arg"); }},
        // Everything behind -c is the command, so switches there are refused ...
        {L"-c setup.exe -lg", kSwitchesStop, {4900}, [&] { EXPECT_EQ(o.language, 0); }},
        {L"-c setup.exe /q", kSwitchesStop, {4900}, nullptr},
        // ... unless -o came first.
        {L"-o -c setup.exe -lg", kSwitchesBuild, {},
         [&] { EXPECT_TEXT(o.command, L"setup.exe -lg"); EXPECT_EQ(o.language, 0); }},
        {L"-c", kSwitchesStop, {1012}, nullptr},
        {(L"-c " + std::wstring(kSfxMaxCommand, L'x')).c_str(), kSwitchesBuild, {}, nullptr},
        {(L"-c " + std::wstring(kSfxMaxCommand + 1, L'x')).c_str(), kSwitchesStop, {4890}, nullptr},
    });
}

TEST_F(BuilderSwitches, ZipNamesAndSpanning)
{
    const SfxOptions& o = g_options;
    std::wstring zip = files_.Path(L"a.zip");
    RunTable({
        {zip.c_str(), kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.zip_name, zip.c_str()); }},
        {(zip + L" other.zip").c_str(), kSwitchesWizard, {1016}, [&] { EXPECT_TEXT(o.zip_name, zip.c_str()); }},
        {(L"\"" + zip + L"\"").c_str(), kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.zip_name, zip.c_str()); }},
        {L"a*.zip -y", kSwitchesBuild, {1073}, [&] { EXPECT_TEXT(o.zip_name, L""); }},
        {L"-spanexe", kSwitchesStop, {6100}, [&] { EXPECT_TRUE(o.spanning && o.zip_behind_stub); }},
        {L"-spanzip 12", kSwitchesStop, {6100}, [&] { EXPECT_TRUE(o.spanning); EXPECT_FALSE(o.zip_behind_stub); }},
        {L"-spanzip C", kSwitchesStop, {6090}, nullptr},
        {L"-spanexeC:", kSwitchesStop, {6090}, nullptr},
        // An open quote cannot be tokenized.
        {L"-st \"open", kSwitchesNone, {6324}, nullptr},
    });
}

TEST_F(BuilderSwitches, DialogAndAboutTextFiles)
{
    const SfxOptions& o = g_options;
    std::wstring ansi = files_.Write(L"ansi.txt", "Caf\xE9 ready");
    std::wstring u8 = files_.Write(L"u8.txt", utf8(L"Gr\u00FC\u00DFe \u20AC", true));
    std::wstring u16 = files_.Write(L"u16.txt", utf16le(L"\u041F\u0440\u0438\u0432\u0435\u0442", true));
    std::wstring be = files_.Write(L"be.txt", std::string("\xFE\xFF\0A", 4));
    std::wstring full = files_.Write(L"full.txt", std::string(256, 'x'));
    std::wstring over = files_.Write(L"over.txt", std::string(257, 'x'));
    std::wstring u16full = files_.Write(L"u16full.txt", utf16le(std::wstring(256, L'\u00E9'), true));
    std::wstring missing = files_.Path(L"missing.txt");
    RunTable({
        {(L"-setup -t " + ansi).c_str(), kSwitchesBuild, {},
         [&] { EXPECT_TEXT(o.dialog_text, L"Caf\u00E9 ready"); EXPECT_TEXT(o.dialog_text_file, ansi.c_str()); }},
        {(L"-t" + u8).c_str(), kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.dialog_text, L"Gr\u00FC\u00DFe \u20AC"); }},
        {(L"-a " + u16).c_str(), kSwitchesWizard, {},
         [&] { EXPECT_TEXT(o.about_text, L"\u041F\u0440\u0438\u0432\u0435\u0442"); }},
        {(L"-a " + full).c_str(), kSwitchesWizard, {}, [&] { EXPECT_EQ(o.about_text.Length(), 256); }},
        {(L"-a " + u16full).c_str(), kSwitchesWizard, {}, [&] { EXPECT_EQ(o.about_text.Length(), 256); }},
        {(L"-a " + over).c_str(), kSwitchesStop, {4420}, nullptr},
        {(L"-a " + be).c_str(), kSwitchesStop, {4435}, nullptr},
        {(L"-a " + missing).c_str(), kSwitchesStop, {4400}, nullptr},
        // The dialog text too: an unreadable file is refused, not left empty.
        {(L"-t " + missing).c_str(), kSwitchesStop, {4400}, [&] { EXPECT_TEXT(o.dialog_text, L""); }},
        {(L"-t " + over).c_str(), kSwitchesStop, {4420}, nullptr},
    });
}

TEST_F(BuilderSwitches, ResponseFiles)
{
    const SfxOptions& o = g_options;
    const SfxBuildSettings& s = g_settings;
    std::wstring plain = files_.Write(L"plain.rsp", "-lg\r\n-st\t\"Two words\"\r\n-y\n");
    std::wstring u16 = files_.Write(L"u16.rsp", utf16le(L"-st \u00C9t\u00E9\r\n-auto", true));
    std::wstring u8 = files_.Write(L"u8.rsp", utf8(L"-st \u00C9t\u00E9 -silent", true));
    std::wstring inner = files_.Write(L"inner.rsp", "-nocrc");
    std::wstring outer = files_.Write(L"outer.rsp", "-k @" + std::string(inner.begin(), inner.end()));
    std::wstring self = files_.Path(L"self.rsp");
    files_.Write(L"self.rsp", "-v @" + std::string(self.begin(), self.end()));
    std::wstring big = files_.Write(L"big.rsp", std::string(kResponseFileLimit, ' ') + "x");
    std::wstring limit = files_.Write(L"limit.rsp", std::string(kResponseFileLimit - 3, ' ') + "-lg");
    std::wstring be = files_.Write(L"be.rsp", std::string("\xFE\xFF\0-\0y", 6));
    std::wstring quoted = files_.Write(L"with blank.rsp", "-oem");
    RunTable({
        {(L"@" + plain).c_str(), kSwitchesBuild, {},
         [&] { EXPECT_EQ(o.language, 1); EXPECT_TEXT(o.title, L"Two words"); EXPECT_TRUE(s.prompts_off); }},
        {(L"@" + u16).c_str(), kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.title, L"\u00C9t\u00E9"); EXPECT_TRUE(o.auto_unzip); }},
        {(L"@" + u8).c_str(), kSwitchesWizard, {}, [&] { EXPECT_TEXT(o.title, L"\u00C9t\u00E9"); EXPECT_TRUE(o.silent); }},
        {(L"@" + outer).c_str(), kSwitchesWizard, {}, [&] { EXPECT_TRUE(o.option_k && o.no_crc); }},
        {(L"\"@" + quoted + L"\"").c_str(), kSwitchesWizard, {}, [&] { EXPECT_TRUE(s.oem); }},
        // The response file replaces the rest of the command line.
        {(L"@" + inner + L" -lg").c_str(), kSwitchesWizard, {}, [&] { EXPECT_TRUE(o.no_crc); EXPECT_EQ(o.language, 0); }},
        // A file that names itself ends after the cap with the response-file message.
        {(L"@" + self).c_str(), kSwitchesStop, {1074}, [&] { EXPECT_TRUE(s.build_log); }},
        {(L"@" + limit).c_str(), kSwitchesWizard, {}, [&] { EXPECT_EQ(o.language, 1); }},
        {(L"@" + big).c_str(), kSwitchesStop, {4420}, nullptr},
        {(L"@" + be).c_str(), kSwitchesStop, {4435}, nullptr},
        {(L"@" + files_.Path(L"none.rsp") + L" -lg").c_str(), kSwitchesWizard, {1074},
         [&] { EXPECT_EQ(o.language, 1); }},
    });
}

TEST(BuilderDosNames, EveryComponentIsEightDotThree)
{
    const struct { const wchar_t* path; bool dos; } cases[] = {
        {L"README.TXT", true},
        {L"12345678.123", true},
        {L"123456789.TXT", false},   // a ninth name character
        {L"NAME.TEXT", false},       // a fourth extension character
        {L"A.B.C", false},           // a second dot
        {L"DIR\\SUB/FILE.C", true},  // each component on its own
        {L"LONGDIRNAME\\A.TXT", false},
        {L"MY FILE.TXT", false},     // blank
        {L"A+B.TXT", false},
        {L"A[1].TXT", false},
        {L"NOEXT", true},
        {L"", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_dos_name(QlStr(c.path)), c.dos) << std::string(c.path, c.path + wcslen(c.path));
}

}  // namespace
