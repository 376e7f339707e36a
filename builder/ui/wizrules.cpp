// The wizard's page order, Finish rules and value checks.
#include "builder/ui/wizrules.h"

#include "common/QlCmdl.h"

namespace {

struct PageRow {
    WizPage page;
    const char* name;
    int help_id;
    int heading;  // standard mode; the installation heading differs only on WIZ_GETFILE
    WizFinish finish;
};

const PageRow kPages[kWizPageCount] = {
    {WizPage::Welcome, "WIZ_WELCOME", 108, 4090, WizFinish::Leave},
    {WizPage::Panel1, "WIZ_PANEL1", 101, 4130, WizFinish::Disable},
    {WizPage::SpannCheck, "WIZ_SPANN_CHECK", 117, 4090, WizFinish::Disable},
    {WizPage::Spann, "WIZ_SPANN", 116, 6170, WizFinish::Disable},
    {WizPage::GetFile, "WIZ_GETFILE", 102, 4150, WizFinish::Enable},
    {WizPage::GetDiz, "WIZ_GETDIZ", 112, 4110, WizFinish::Leave},
    {WizPage::GetDir, "WIZ_GETDIR", 103, 0, WizFinish::Leave},
    {WizPage::Command, "WIZ_COMMAND", 104, 4120, WizFinish::Leave},
    {WizPage::ProMisc, "WIZ_PROMISC", 111, 0, WizFinish::Leave},
    {WizPage::ProCmd, "WIZ_PROCMD", 109, 4140, WizFinish::Disable},
    {WizPage::Profiles, "WIZ_PROFILES", 110, 4110, WizFinish::Enable},
    {WizPage::GetAbout, "WIZ_GETABOUT", 118, 4110, WizFinish::Leave},
    {WizPage::GetIco, "WIZ_GETICO", 115, 4090, WizFinish::Leave},
    {WizPage::Misc, "WIZ_MISC", 105, 0, WizFinish::Leave},
    {WizPage::Generic, "WIZ_GENERIC", 113, 0, WizFinish::Enable},
    {WizPage::Build, "WIZ_BUILD", 113, 0, WizFinish::Enable},
    {WizPage::Test, "WIZ_TEST", 107, 0, WizFinish::Disable},
    {WizPage::Done, "WIZ_DONE", 121, 0, WizFinish::Leave},
};

const PageRow& row(WizPage page)
{
    return kPages[static_cast<int>(page)];
}

bool is_separator(QlChar c)
{
    return c == QL('\\') || c == QL('/') || c == QL(':');
}

// Where the last path element begins.
int last_element(const QlStr& path)
{
    for (int i = path.Length(); i > 0; --i)
        if (is_separator(path.CharAt(i - 1)))
            return i;
    return 0;
}

// The dot of the last element's extension, or -1.
int extension_dot(const QlStr& path)
{
    int start = last_element(path);
    for (int i = path.Length(); i-- > start;)
        if (path.CharAt(i) == QL('.'))
            return i;
    return -1;
}

bool same_path_no_case(QlStr a, QlStr b)
{
    a.ReplaceChar(QL('/'), QL('\\'));
    b.ReplaceChar(QL('/'), QL('\\'));
    return qlStrCompareNoCase(a, b) == 0;
}

}  // namespace

WizPage wiz_next_page(WizPage page, const WizRoute& r)
{
    switch (page) {
    case WizPage::Welcome: return WizPage::Panel1;
    case WizPage::Panel1: return WizPage::SpannCheck;
    case WizPage::SpannCheck: return r.spanning ? WizPage::Spann : WizPage::GetFile;
    case WizPage::Spann: return WizPage::GetFile;
    case WizPage::GetFile: return WizPage::GetDiz;
    case WizPage::GetDiz: return r.installation ? WizPage::ProMisc : WizPage::GetDir;
    case WizPage::GetDir: return WizPage::Command;
    case WizPage::Command: return WizPage::GetAbout;
    case WizPage::ProMisc: return WizPage::ProCmd;
    case WizPage::ProCmd: return WizPage::Profiles;
    case WizPage::Profiles: return WizPage::GetAbout;
    case WizPage::GetAbout:
        return r.nt_family ? WizPage::GetIco : r.installation ? WizPage::Generic : WizPage::Misc;
    case WizPage::GetIco: return r.installation ? WizPage::Generic : WizPage::Misc;
    case WizPage::Misc: return WizPage::Generic;
    case WizPage::Generic: return WizPage::Build;
    case WizPage::Build: return WizPage::Test;
    case WizPage::Test: return WizPage::Done;
    case WizPage::Done: return WizPage::Panel1;
    }
    return WizPage::Welcome;
}

WizPage wiz_back_page(WizPage page, const WizRoute& r)
{
    switch (page) {
    case WizPage::Welcome: return WizPage::Welcome;
    case WizPage::Panel1: return WizPage::Welcome;
    case WizPage::SpannCheck: return WizPage::Panel1;
    case WizPage::Spann: return WizPage::SpannCheck;
    case WizPage::GetFile: return r.spanning ? WizPage::Spann : WizPage::SpannCheck;
    case WizPage::GetDiz: return WizPage::GetFile;
    case WizPage::GetDir: return WizPage::GetDiz;
    case WizPage::Command: return WizPage::GetDir;
    case WizPage::ProMisc: return WizPage::GetDiz;
    case WizPage::ProCmd: return WizPage::ProMisc;
    case WizPage::Profiles: return WizPage::ProCmd;
    case WizPage::GetAbout: return r.installation ? WizPage::Profiles : WizPage::Command;
    case WizPage::GetIco: return WizPage::GetAbout;
    case WizPage::Misc: return r.nt_family ? WizPage::GetIco : WizPage::GetAbout;
    case WizPage::Generic:
        if (!r.installation)
            return WizPage::Misc;
        return r.nt_family ? WizPage::GetIco : WizPage::GetAbout;
    case WizPage::Build: return WizPage::Generic;
    case WizPage::Test: return WizPage::Generic;
    case WizPage::Done: return WizPage::Test;
    }
    return WizPage::Welcome;
}

const char* wiz_template_name(WizPage page)
{
    return row(page).name;
}

int wiz_help_id(WizPage page)
{
    return row(page).help_id;
}

int wiz_heading_id(WizPage page, bool installation)
{
    if (page == WizPage::GetFile && installation)
        return 0;
    return row(page).heading;
}

WizFinish wiz_finish_on_entry(WizPage page, bool installation)
{
    if (page == WizPage::GetFile && installation)
        return WizFinish::Disable;
    return row(page).finish;
}

QlStr wiz_extension_of(const QlStr& path)
{
    int dot = extension_dot(path);
    return dot < 0 ? QlStr() : path.MidFrom(dot + 1);
}

QlStr wiz_base_name_of(const QlStr& path)
{
    int start = last_element(path);
    int dot = extension_dot(path);
    int end = dot < 0 ? path.Length() : dot;
    return path.Mid(start, end - start);
}

QlStr wiz_without_extension(const QlStr& path)
{
    int dot = extension_dot(path);
    return dot < 0 ? path : path.Left(dot);
}

QlStr wiz_with_zip_extension(const QlStr& name)
{
    if (!name.HasText() || extension_dot(name) >= 0)
        return name;
    return name + QL(".zip");
}

QlStr wiz_default_text_file(const QlStr& zip_path, WizTextFile kind, const QlStr& suffix)
{
    if (kind == WizTextFile::DialogText)
        return wiz_without_extension(zip_path) + suffix;
    return wiz_base_name_of(zip_path) + QL('.') + suffix;
}

WizCommandCheck wiz_check_command_text(const QlStr& command, const QlStr& zip_name, bool installation)
{
    WizCommandCheck check;
    QlStr program;
    try {
        QlCmdLine tokens(command);
        program = tokens.GetToken();
    } catch (int) {
        program = command;
        program.TrimLeft();
        program.TrimRight();
    }
    program.Unquote();
    QlStr base = wiz_base_name_of(zip_name);
    if (base.HasText() && (same_path_no_case(program, base) || same_path_no_case(program, base + QL(".exe")))) {
        check.verdict = WizCommandVerdict::SameAsZip;
        return check;
    }
    check.extension = wiz_extension_of(program);
    check.inf = check.extension.EqualsNoCaseAnsi("inf");
    if (installation) {
        static const char* const kInstallTypes[] = {"exe", "com", "pif", "bat", "inf"};
        bool ok = !check.extension.HasText();
        for (const char* type : kInstallTypes)
            ok = ok || check.extension.EqualsNoCaseAnsi(type);
        if (!ok)
            check.verdict = WizCommandVerdict::NotInstallCommand;
        return check;
    }
    if (check.extension.HasText())
        check.verdict = WizCommandVerdict::AskAssociation;
    return check;
}

bool wiz_wait_for_valid(const QlStr& text)
{
    return text.Length() <= 8 && !text.ContainsChar(QL('.'));
}

QlStr wiz_shorten_command(const QlStr& command)
{
    if (command.Length() < 32)
        return command;
    return command.Left(29) + QL("...");
}

QlStr wiz_archiver_command(const QlStr& registered, const QlStr& zip_text)
{
    QlStr command = registered;
    int cut = command.Find(QL(" \"%1"));
    if (cut >= 0)
        command = command.Left(cut);
    if (zip_text.HasText())
        command += QL(" \"") + wiz_with_zip_extension(zip_text) + QL('"');
    return command;
}

QlStr wiz_quoted(const QlStr& name)
{
    if (name.Length() >= 2 && name.FirstChar() == QL('"') && name.LastChar() == QL('"'))
        return name;
    return QlStr(QL("\"")) + name + QL('"');
}
