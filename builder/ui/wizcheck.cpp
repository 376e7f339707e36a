// The command check.
#include "builder/ui/wizcheck.h"

#include "builder/sfxoptions.h"
#include "builder/ui/msgsink.h"
#include "builder/ui/wizres.h"
#include "builder/ui/wizrules.h"
#include "common/QlWin32.h"

bool check_command()
{
    WizCommandCheck check = wiz_check_command_text(g_options.command, g_options.zip_name, g_options.installation_mode);
    if (check.verdict == WizCommandVerdict::SameAsZip) {
        sink_message_box(IDS_WIZ_COMMAND_IS_SELF, nullptr, load_message(IDS_WIZ_COMMAND_IS_SELF), QlStr(),
                         MB_OK | MB_ICONERROR);
        return true;
    }
    g_options.inf_command = check.inf;
    if (check.verdict == WizCommandVerdict::NotInstallCommand) {
        show_error_id(IDS_WIZ_NOT_INSTALL_COMMAND);
        return true;
    }
    if (check.verdict == WizCommandVerdict::AskAssociation) {
        QlStr program;
        if (qlWin32RegQueryValue(HKEY_CLASSES_ROOT, QlStr(QL(".")) + check.extension, program) != ERROR_SUCCESS &&
            sink_message_box(IDS_WIZ_NOT_ASSOCIATED, nullptr, load_message(IDS_WIZ_NOT_ASSOCIATED),
                             load_message(IDS_WIZ_WARNING), MB_YESNO | MB_ICONWARNING) == IDNO)
            return true;
    }
    return false;
}

bool command_is_inf()
{
    return g_options.inf_command;
}
