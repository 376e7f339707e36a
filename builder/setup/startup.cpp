// The installation environment's steps that start-up reaches through its
// seams: uninstall, post-install, the settings report, the Start-menu group,
// the common-controls version, the main archiver's setting and the builder's
// version record; and the check of an installation command.
#include "builder/seams.h"
#include "builder/services.h"

#include <shlobj.h>

#include "builder/setup/QlDllVer.h"
#include "builder/setup/QlSplFdr.h"
#include "builder/setup/qlopts.h"
#include "builder/setup/qlseopts.h"
#include "builder/setup/uninstall.h"
#include "builder/sfxoptions.h"
#include "builder/textfile.h"
#include "builder/ui/msgsink.h"
#include "builder/winsfx.h"

namespace {

const int kMsgReportNotWritten = 1082;
const int kMsgStartMenuFailed = 6332;

QlStr own_path()
{
    QlStr path;
    get_module_file_name(nullptr, path);
    return path;
}

// A "Run now" answer of the post-install dialog: the builder starts anew,
// without arguments, as a user would start it from its shortcut.
void start_builder_anew()
{
    QlStr own = own_path();
    QlStr line = QL("\"") + own + QL("\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(own.Text(), line.Buffer(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder_of(own).Text(), &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

}  // namespace

int run_uninstall(const QlStr& caption)
{
    return uninstall_builder(GetModuleHandleW(nullptr), caption);
}

int run_post_install(bool nor_form)
{
    int result = complete_setup(nor_form ? kDlgSetupComplete : kDlgSetupInstalled);
    if (result == 1)
        start_builder_anew();
    return result;
}

bool write_settings_report()
{
    QlStr own = own_path();
    if (dump_settings_report(own).HasText())
        return true;
    show_error_format(kMsgReportNotWritten, settings_report_path(own).Text());
    return false;
}

bool create_start_menu_folder()
{
    QlStr own = own_path();
    QlSpecialFolder group(start_menu_group_csidl(), load_message(kMsgStartMenuGroup));
    bool made = false;
    if (group.Path().HasText()) {
        group.Create();
        QlShortcut builder;
        builder.flags = QlShortcut::kDescription | QlShortcut::kWorkingFolder;
        builder.target = own;
        builder.description = load_message(kMsgStartMenuShortcut);
        builder.working_folder = folder_of(own);
        QlShortcut manual;
        manual.flags = QlShortcut::kDescription;
        manual.target = folder_of(own) + QL("quollase.chm");
        manual.description = load_message(kMsgOnlineManual);
        made = group.Exists() && group.RecreateShortcut(builder) && group.RecreateShortcut(manual);
    }
    if (!made) {
        QlStr shown = group.Path().HasText() ? group.Path() : load_message(kMsgStartMenuGroup);
        show_error_format(kMsgStartMenuFailed, shown.Text());
    }
    return made;
}

int read_common_controls_version()
{
    QlDLLVersion& version = common_controls_version();
    if (!version.Query(QlStr(L"comctl32.dll"), true))
        return 0;
    return version.Major() * 100 + version.Minor();
}

QlStr read_main_archiver_exe_setting()
{
    return get_archiver_zip2exe();
}

bool main_archiver_passes_version_test()
{
    return archiver_version_at_least_5_6();
}

void write_main_archiver_exe_setting(const QlStr& path)
{
    set_archiver_zip2exe(path);
}

QlStr read_builder_version_record()
{
    char text[260];
    read_installed_version(text);
    return QlStr(text, 1);
}

void write_builder_version_record(const QlStr& version)
{
    write_installed_version(version);
}
