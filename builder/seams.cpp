// The seams: the least each caller needs until the real parts land.
#include "builder/seams.h"

#include "builder/ui/msgsink.h"

int run_wizard()
{
    message_box_id(kMsgWizardNotYet, load_message(kMsgWizardNotYet), MB_OK | MB_ICONINFORMATION);
    return 0;
}

int run_uninstall(const QlStr& caption)
{
    sink_message_box(kMsgUninstallNotYet, nullptr, load_message(kMsgUninstallNotYet), caption,
                     MB_OK | MB_ICONINFORMATION);
    return 0;
}

int run_post_install(bool)
{
    message_box_id(kMsgPostInstallNotYet, load_message(kMsgPostInstallNotYet),
                   MB_OK | MB_ICONINFORMATION);
    return 3;
}

void write_settings_report()
{
    message_box_id(kMsgSettingsReportNotYet, load_message(kMsgSettingsReportNotYet),
                   MB_OK | MB_ICONINFORMATION);
}

bool create_start_menu_folder()
{
    return false;
}

bool check_setup_command(const QlStr&)
{
    return true;
}

QlStr read_main_archiver_exe_setting()
{
    return QlStr();
}

bool main_archiver_passes_version_test()
{
    return false;
}

void write_main_archiver_exe_setting(const QlStr&)
{
}

QlStr read_builder_version_record()
{
    return QlStr();
}

void write_builder_version_record(const QlStr&)
{
}
