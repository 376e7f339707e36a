// The wizard's last pages: the summary, the build with its meter, the offer
// of a test run, and the choice between another pass and the end (with the
// result sent by mail).
#include <windows.h>
#include <shellapi.h>

#include "builder/build.h"
#include "builder/callbacks.h"
#include "builder/services.h"
#include "builder/sfxoptions.h"
#include "builder/ui/dlg.h"
#include "builder/ui/mail.h"
#include "builder/ui/msgsink.h"
#include "builder/ui/wizpage.h"
#include "builder/ui/wizres.h"
#include "builder/ui/wizrules.h"
#include "builder/winsfx.h"

namespace {

const int kSummaryLimit = 1124;
const DWORD kBuildPageMs = 250;
const int kRunUnits = 2050;

bool g_testRunRequested = false;
bool g_buildRunning = false;

bool common(HWND frame, UINT message, WPARAM wparam, LPARAM lparam, WizPage page)
{
    return page_common_handler(frame, message, wparam, lparam, page);
}

QlStr yes_no(bool on)
{
    return load_message(on ? IDS_WIZ_YES : IDS_WIZ_NO);
}

QlStr or_none(const QlStr& text)
{
    return text.HasText() ? text : load_message(IDS_WIZ_NONE);
}

QlStr language_name()
{
    return load_message(g_options.language == 1 ? IDS_WIZ_GERMAN : IDS_WIZ_ENGLISH);
}

QlStr run_as_name()
{
    return load_message(g_options.run_as_admin ? IDS_WIZ_ADMINISTRATOR : IDS_WIZ_USER);
}

WizPage summary_back()
{
    return wiz_back_page(WizPage::Generic, wizard_route());
}

// Pumps the window messages until the tick count reaches the deadline.
void pump_until(DWORD start, DWORD length)
{
    for (;;) {
        process_pending_messages();
        DWORD passed = GetTickCount() - start;
        if (passed >= length)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, length - passed, QS_ALLINPUT);
    }
}

void start_test_run(HWND frame)
{
    process_pending_messages();
    QlStr name = wiz_quoted(g_options.output_name);
    if (g_os.vista_or_later && g_options.run_as_admin) {
        QlStr file = g_options.output_name;
        file.Unquote();
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = frame;
        info.lpVerb = L"runas";
        info.lpFile = file.Text();
        info.nShow = SW_SHOWNORMAL;
        if (ShellExecuteExW(&info) && info.hProcess)
            CloseHandle(info.hProcess);
        return;
    }
    wchar_t line[kRunUnits + 1] = {};
    lstrcpynW(line, name.Text(), kRunUnits);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void leave_done_page()
{
    release_mapi();
    set_finish_label(IDS_WIZ_FINISH);
    set_default_button(IDC_WIZ_NEXT);
}

}  // namespace

namespace {

QlStr standard_summary()
{
    QlStr folder = g_options.default_folder.HasText() ? g_options.default_folder : load_message(IDS_WIZ_TEMP_FOLDER);
    QlStr text = format_message(IDS_WIZ_SUMMARY_STANDARD, g_options.output_name.Text(), folder.Text(),
                                or_none(wiz_shorten_command(g_options.command)).Text(),
                                or_none(g_options.icon_file).Text(), yes_no(g_options.overwrite).Text(),
                                yes_no(g_options.auto_unzip).Text(), language_name().Text(), run_as_name().Text());
    if (text.Length() > kSummaryLimit)
        sink_message_box(IDS_WIZ_SUMMARY_TOO_LONG, nullptr, load_message(IDS_WIZ_SUMMARY_TOO_LONG), QlStr(),
                         MB_OK | MB_ICONERROR);
    return text;
}

QlStr installation_summary()
{
    return format_message(IDS_WIZ_SUMMARY_INSTALL, g_options.output_name.Text(),
                          wiz_shorten_command(g_options.command).Text(), or_none(g_options.wait_name).Text(),
                          or_none(g_options.icon_file).Text(), yes_no(g_options.auto_unzip).Text(),
                          language_name().Text(), run_as_name().Text());
}

INT_PTR summary_page_proc(QlStr (*summary)(), HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Generic))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Generic);
        set_page_text(frame, IDC_WIZ_TEXT, summary());
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        show_wizard_page(summary_back());
        return TRUE;
    case IDC_WIZ_NEXT:
        show_wizard_page(WizPage::Build);
        return TRUE;
    case IDC_WIZ_FINISH:
        return 0;
    }
    return FALSE;
}

}  // namespace

INT_PTR wiz_generic_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    return summary_page_proc(standard_summary, frame, message, wparam, lparam);
}

INT_PTR wiz_generic_setup_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    return summary_page_proc(installation_summary, frame, message, wparam, lparam);
}

// The whole build runs inside the page's initialisation; the progress
// callbacks pump the messages that bring Stop, Cancel and Close here.
INT_PTR wiz_build_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Build))
        return TRUE;
    if (message == WM_INITDIALOG) {
        DWORD start = GetTickCount();
        begin_wizard_page(WizPage::Build);
        set_page_text(frame, IDC_WIZ_TEXT, format_message(IDS_WIZ_CREATING, g_options.output_name.Text()));
        enable_wizard_button(IDC_WIZ_BACK, false);
        enable_wizard_button(IDC_WIZ_NEXT, false);
        enable_wizard_button(IDC_WIZ_FINISH, true);
        set_finish_label(IDS_WIZ_STOP);
        create_meter_window(frame, GetDlgItem(frame, IDC_WIZ_METER_PLACE));
        dump_options_if_asked(L"build", 0);
        g_buildRunning = true;
        set_busy(true, nullptr);
        int made = build_sfx_guarded(frame);
        set_busy(false, nullptr);
        g_buildRunning = false;
        note_wizard_build(made != 0);
        if (made)
            pump_until(start, kBuildPageMs);
        destroy_meter_window(frame);
        enable_wizard_button(IDC_WIZ_BACK, true);
        enable_wizard_button(IDC_WIZ_NEXT, true);
        enable_wizard_button(IDC_WIZ_FINISH, true);
        set_finish_label(IDS_WIZ_FINISH);
        show_wizard_page(made ? WizPage::Test : WizPage::Generic);
        return TRUE;
    }
    if (message != WM_COMMAND || !g_buildRunning)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDCANCEL:
    case IDC_WIZ_CLOSE:
    case IDC_WIZ_FINISH:
        request_cancel();
        return TRUE;
    case IDC_WIZ_BACK:
    case IDC_WIZ_NEXT:
        return TRUE;
    }
    return FALSE;
}

INT_PTR wiz_test_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Test))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Test);
        set_page_text(frame, IDC_WIZ_TEST_TEXT, format_message(IDS_WIZ_CREATED, g_options.output_name.Text()));
        set_checked(frame, IDC_WIZ_TEST_NOW, true);
        enable_control(frame, IDC_WIZ_TEST_NOW, true);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        show_wizard_page(WizPage::Generic);
        return TRUE;
    case IDC_WIZ_NEXT:
        if (g_options.installation_mode)
            message_box_id(IDS_WIZ_INSTALL_TEST_TIP, load_message(IDS_WIZ_INSTALL_TEST_TIP), MB_OK | MB_ICONINFORMATION);
        g_testRunRequested = is_checked(frame, IDC_WIZ_TEST_NOW);
        show_wizard_page(WizPage::Done);
        return TRUE;
    }
    return FALSE;
}

INT_PTR wiz_done_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Done))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Done);
        set_page_text(frame, IDC_WIZ_TEXT, load_message(IDS_WIZ_ANOTHER));
        set_finish_label(IDS_WIZ_EXIT);
        set_checked(frame, IDC_WIZ_AGAIN, true);
        set_checked(frame, IDC_WIZ_FINISHED, false);
        enable_wizard_button(IDC_WIZ_NEXT, true);
        enable_wizard_button(IDC_WIZ_FINISH, false);
        set_default_button(IDC_WIZ_NEXT);
        if (g_testRunRequested)
            PostMessageW(frame, kWizStartTestRun, 0, 0);
        g_testRunRequested = false;
        if (!find_mapi_send_mail()) {
            ShowWindow(GetDlgItem(frame, IDC_WIZ_MAIL), SW_HIDE);
            enable_control(frame, IDC_WIZ_MAIL, false);
        }
        return TRUE;
    }
    if (message == kWizStartTestRun) {
        start_test_run(frame);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_AGAIN:
        if (is_click(wparam)) {
            enable_wizard_button(IDC_WIZ_NEXT, true);
            enable_wizard_button(IDC_WIZ_FINISH, false);
            set_default_button(IDC_WIZ_NEXT);
        }
        return TRUE;
    case IDC_WIZ_FINISHED:
        if (is_click(wparam)) {
            enable_wizard_button(IDC_WIZ_FINISH, true);
            enable_wizard_button(IDC_WIZ_NEXT, false);
            set_default_button(IDC_WIZ_FINISH);
        }
        return TRUE;
    case IDC_WIZ_MAIL:
        send_mail(frame);
        return 0;
    case IDC_WIZ_NEXT:
        leave_done_page();
        clear_zip_and_exe_names();
        show_wizard_page(WizPage::Panel1);
        return TRUE;
    case IDC_WIZ_BACK:
        leave_done_page();
        show_wizard_page(WizPage::Test);
        return TRUE;
    case IDC_WIZ_FINISH:
        release_mapi();
        PostMessageW(frame, WM_COMMAND, IDC_WIZ_CLOSE, 0);
        return TRUE;
    case IDCANCEL:
    case IDC_WIZ_CLOSE:
        release_mapi();
        return 0;
    }
    return FALSE;
}

WizardPage wiz_page_procedure(WizPage page, bool installation)
{
    switch (page) {
    case WizPage::Welcome: return wiz_welcome_proc;
    case WizPage::Panel1: return wiz_panel1_proc;
    case WizPage::SpannCheck: return wiz_spann_check_proc;
    case WizPage::Spann: return wiz_spann_proc;
    case WizPage::GetFile: return wiz_getfile_proc;
    case WizPage::GetDiz: return wiz_getdiz_proc;
    case WizPage::GetDir: return wiz_getdir_proc;
    case WizPage::Command: return wiz_command_proc;
    case WizPage::ProMisc: return wiz_promisc_proc;
    case WizPage::ProCmd: return wiz_procmd_proc;
    case WizPage::Profiles: return wiz_profiles_proc;
    case WizPage::GetAbout: return wiz_getabout_proc;
    case WizPage::GetIco: return wiz_getico_proc;
    case WizPage::Misc: return wiz_misc_proc;
    case WizPage::Generic: return installation ? wiz_generic_setup_proc : wiz_generic_proc;
    case WizPage::Build: return wiz_build_proc;
    case WizPage::Test: return wiz_test_proc;
    case WizPage::Done: return wiz_done_proc;
    }
    return wiz_welcome_proc;
}
