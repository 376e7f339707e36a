// The wizard's settings pages: the kind of self-extractor, spanning, the Zip
// file, the greeting, the folder or setup command, the dialog and about
// texts, the icon and the options.
#include "builder/ui/wizpage.h"

#include "builder/build.h"
#include "builder/services.h"
#include "builder/setup/qlopts.h"
#include "builder/sfxoptions.h"
#include "builder/spandlg.h"
#include "builder/textfile.h"
#include "builder/ui/dlg.h"
#include "builder/ui/filedlg.h"
#include "builder/ui/msgsink.h"
#include "builder/ui/wizcheck.h"
#include "builder/ui/wizres.h"
#include "builder/ui/wizrules.h"
#include "builder/winsfx.h"
#include "common/QlWin32.h"

namespace {

const int kZipNameLimit = 260;
const int kGreetingLimit = 512;
const int kFolderLimit = 520;
const int kCommandLimit = 256;
const int kTextLimit = 256;
const int kIconLimit = 260;
const int kArchiverCommandUnits = 2050;

bool common(HWND frame, UINT message, WPARAM wparam, LPARAM lparam, WizPage page)
{
    return page_common_handler(frame, message, wparam, lparam, page);
}

void go(WizPage page)
{
    show_wizard_page(page);
}

void go_next(WizPage from)
{
    go(wiz_next_page(from, wizard_route()));
}

void go_back(WizPage from)
{
    go(wiz_back_page(from, wizard_route()));
}

// The name a use-file or save-file button starts from.
QlStr start_name(const QlStr& chosen, WizTextFile kind, int suffix_id)
{
    if (chosen.HasText())
        return chosen;
    return wiz_default_text_file(g_options.zip_name, kind, load_message(suffix_id));
}

bool ask_auto_caution()
{
    if (!g_options.auto_unzip || suppress_auto_caution())
        return true;
    return message_box_id(IDS_WIZ_AUTO_CAUTION, load_message(IDS_WIZ_AUTO_CAUTION), MB_ICONQUESTION | MB_YESNO) ==
           IDYES;
}

// --- WIZ_WELCOME

}  // namespace

bool page_common_handler(HWND frame, UINT message, WPARAM wparam, LPARAM lparam, WizPage page)
{
    return dialog_common_handler(frame, message, wparam, lparam, wiz_help_id(page));
}

bool is_click(WPARAM wparam)
{
    return HIWORD(wparam) == BN_CLICKED || HIWORD(wparam) == BN_DOUBLECLICKED;
}

WizRoute wizard_route()
{
    WizRoute r;
    r.installation = g_options.installation_mode;
    r.spanning = g_options.spanning;
    r.nt_family = g_os.nt_family;
    return r;
}

QlStr page_text(HWND frame, int id)
{
    QlStr text;
    qlWin32GetDlgItemText(frame, id, text);
    return text;
}

void set_page_text(HWND frame, int id, const QlStr& text)
{
    SetDlgItemTextW(frame, id, text.Text() ? text.Text() : L"");
}

bool is_checked(HWND frame, int id)
{
    return IsDlgButtonChecked(frame, id) == BST_CHECKED;
}

void set_checked(HWND frame, int id, bool on)
{
    CheckDlgButton(frame, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void focus_control(HWND frame, int id)
{
    HWND control = GetDlgItem(frame, id);
    if (control)
        SetFocus(control);
}

void limit_edit(HWND frame, int id, int limit)
{
    SendDlgItemMessageW(frame, id, EM_LIMITTEXT, limit, 0);
}

void enable_control(HWND frame, int id, bool on)
{
    HWND control = GetDlgItem(frame, id);
    if (control)
        EnableWindow(control, on ? TRUE : FALSE);
}

void read_edit_field(HWND frame, int control, QlStr& out, int limit)
{
    QlStr text = page_text(frame, control);
    if (text.Length() > limit)
        text = text.Left(limit);
    text.TrimRight();
    out = text;
}

bool store_edit_if_fits(HWND frame, int control, int limit, QlStr& out, bool required)
{
    QlStr text = page_text(frame, control);
    if (text.Length() > limit) {
        focus_control(frame, control);
        message_box_id(IDS_WIZ_TOO_LONG, load_message(IDS_WIZ_TOO_LONG), MB_OK | MB_ICONERROR);
        return false;
    }
    if (required && !text.HasText()) {
        focus_control(frame, control);
        message_box_id(IDS_WIZ_REQUIRED, load_message(IDS_WIZ_REQUIRED), MB_OK | MB_ICONERROR);
        return false;
    }
    out = text;
    return true;
}

bool check_named_file(HWND, int control, int limit, bool required, int label_id, const QlStr& file)
{
    if (file.HasText()) {
        int result = read_text_file(file, nullptr, nullptr, limit);
        if (result == kTextRead || (result == kTextUnsupportedMark && control == IDC_WIZ_ICON_FILE))
            return true;
        return report_text_file_error(file, result, limit) != 0;
    }
    if (!required)
        return true;
    QlStr text = format_message(IDS_WIZ_FILE_NOT_NAMED, load_message(label_id).Text());
    sink_message_box(IDS_WIZ_FILE_NOT_NAMED, nullptr, text, QlStr(), MB_OK);
    return false;
}

void show_run_as(HWND frame)
{
    if (g_os.nt_family) {
        set_checked(frame, IDC_WIZ_RUN_AS_USER, !g_options.run_as_admin);
        set_checked(frame, IDC_WIZ_RUN_AS_ADMIN, g_options.run_as_admin);
        return;
    }
    for (int id : {IDC_WIZ_RUN_AS_GROUP, IDC_WIZ_RUN_AS_USER, IDC_WIZ_RUN_AS_ADMIN})
        enable_control(frame, id, false);
}

INT_PTR wiz_welcome_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Welcome))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Welcome);
        set_page_text(frame, IDC_WIZ_WELCOME_TEXT, load_message(IDS_WIZ_WELCOME));
        set_page_text(frame, IDC_WIZ_WELCOME_MORE, load_message(IDS_WIZ_WELCOME_MORE));
        enable_wizard_button(IDC_WIZ_BACK, false);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_ABOUT:
        show_about_box(frame);
        return TRUE;
    case IDC_WIZ_NEXT:
        enable_wizard_button(IDC_WIZ_BACK, true);
        go_next(WizPage::Welcome);
        return TRUE;
    }
    return FALSE;
}

INT_PTR wiz_panel1_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Panel1))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Panel1);
        set_checked(frame, g_options.installation_mode ? IDC_WIZ_INSTALLATION : IDC_WIZ_STANDARD, true);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        go_back(WizPage::Panel1);
        return TRUE;
    case IDC_WIZ_NEXT:
        g_options.installation_mode = is_checked(frame, IDC_WIZ_INSTALLATION);
        // Set anew on every pass: an installation runs its setup as
        // administrator unless the user says otherwise.
        g_options.run_as_admin = g_options.installation_mode && g_os.nt_family;
        go_next(WizPage::Panel1);
        return TRUE;
    }
    return FALSE;
}

INT_PTR wiz_spann_check_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::SpannCheck))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::SpannCheck);
        set_page_text(frame, IDC_WIZ_TEXT, load_message(IDS_WIZ_SPAN_TEXT));
        set_page_text(frame, IDC_WIZ_STATUS, load_message(IDS_WIZ_SPAN_MORE));
        set_checked(frame, IDC_WIZ_SPAN, g_options.spanning);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        go_back(WizPage::SpannCheck);
        return TRUE;
    case IDC_WIZ_NEXT:
        g_options.spanning = is_checked(frame, IDC_WIZ_SPAN);
        if (g_options.spanning)
            g_options.format = 0;
        go_next(WizPage::SpannCheck);
        return TRUE;
    }
    return FALSE;
}

INT_PTR wiz_spann_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Spann))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Spann);
        set_page_text(frame, IDC_WIZ_TEXT, load_message(IDS_WIZ_SPANN_TEXT));
        set_page_text(frame, IDC_WIZ_STATUS, load_message(IDS_WIZ_SPANN_MORE));
        set_checked(frame, g_options.zip_behind_stub ? IDC_WIZ_SPAN_OLD : IDC_WIZ_SPAN_SAFE, true);
        HWND list = GetDlgItem(frame, IDC_WIZ_SPAN_DRIVE);
        if (list_removable_drives(list) == 0) {
            message_box_id(IDS_WIZ_NO_REMOVABLE, load_message(IDS_WIZ_NO_REMOVABLE), MB_OK | MB_ICONERROR);
            go(WizPage::Panel1);
            return TRUE;
        }
        SendMessageW(list, CB_SETCURSEL, 0, 0);
        if (g_options.spanning_drive) {
            wchar_t drive[] = {static_cast<wchar_t>(g_options.spanning_drive), L':', 0};
            LRESULT at = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(drive));
            if (at != CB_ERR)
                SendMessageW(list, CB_SETCURSEL, at, 0);
        }
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        go_back(WizPage::Spann);
        return TRUE;
    case IDC_WIZ_NEXT: {
        g_options.zip_behind_stub = is_checked(frame, IDC_WIZ_SPAN_OLD);
        QlStr drive = page_text(frame, IDC_WIZ_SPAN_DRIVE);
        if (drive.HasText())
            g_options.spanning_drive = drive.FirstChar();
        go_next(WizPage::Spann);
        return TRUE;
    }
    case IDC_WIZ_FINISH:
        return TRUE;
    }
    return FALSE;
}

namespace {

// Reads the Zip name from its field and checks the file; false keeps the page.
bool validate_zip_field(HWND frame)
{
    QlStr name;
    read_edit_field(frame, IDC_WIZ_ZIP_NAME, name, kZipNameLimit);
    name.Unquote();
    if (!name.HasText()) {
        sink_message_box(IDS_WIZ_NO_ZIP_NAME, nullptr, load_message(IDS_WIZ_NO_ZIP_NAME), QlStr(), MB_OK);
        focus_control(frame, IDC_WIZ_ZIP_NAME);
        return false;
    }
    QlStr with_extension = wiz_with_zip_extension(name);
    if (!with_extension.Equals(name)) {
        name = with_extension;
        set_page_text(frame, IDC_WIZ_ZIP_NAME, name);
    }
    g_options.zip_name = name;
    if (validate_zip_quietly(name))
        return true;
    focus_control(frame, IDC_WIZ_ZIP_NAME);
    return false;
}

void run_main_archiver(HWND frame)
{
    QlStr registered;
    if (!read_archiver_shell_command(registered) || !registered.HasText()) {
        message_box_id(IDS_WIZ_NO_ARCHIVER, load_message(IDS_WIZ_NO_ARCHIVER), MB_OK);
        return;
    }
    // The archiver may hand its new Zip back (message 0x7E8): the frame is
    // idle for it now.
    SetPropW(frame, load_message(kMsgCaption).Text(), reinterpret_cast<HANDLE>(2));
    QlStr name;
    read_edit_field(frame, IDC_WIZ_ZIP_NAME, name, kZipNameLimit);
    name.Unquote();
    QlStr command = wiz_archiver_command(registered, name);
    wchar_t line[kArchiverCommandUnits + 1] = {};
    lstrcpynW(line, command.Text(), kArchiverCommandUnits);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        sink_message_box(IDS_WIZ_ARCHIVER_FAILED, nullptr, load_message(IDS_WIZ_ARCHIVER_FAILED), QlStr(), MB_OK);
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The Zip check pumps messages: the frame shows the busy cursor meanwhile.
bool validate_zip_busy(HWND frame, int button)
{
    enable_wizard_button(button, false);
    set_busy(true, frame);
    bool valid = validate_zip_field(frame);
    set_busy(false, frame);
    return valid;
}

}  // namespace

INT_PTR wiz_getfile_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::GetFile))
        return TRUE;
    if (message == WM_INITDIALOG) {
        limit_edit(frame, IDC_WIZ_ZIP_NAME, kZipNameLimit);
        if (g_options.zip_name.HasText())
            set_page_text(frame, IDC_WIZ_ZIP_NAME, g_options.zip_name);
        begin_wizard_page(WizPage::GetFile);
        focus_control(frame, IDC_WIZ_ZIP_NAME);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BROWSE_ZIP: {
        QlStr path = page_text(frame, IDC_WIZ_ZIP_NAME);
        if (browse_for_zip_file(frame, path)) {
            g_options.zip_name = path;
            set_page_text(frame, IDC_WIZ_ZIP_NAME, path);
            QlStr folder = path.PathFolder();
            if (folder.HasText())
                SetCurrentDirectoryW(folder.Text());
        }
        return TRUE;
    }
    case IDC_WIZ_RUN_ARCHIVER:
        run_main_archiver(frame);
        return TRUE;
    case IDC_WIZ_NEXT: {
        bool valid = validate_zip_busy(frame, IDC_WIZ_NEXT);
        enable_wizard_button(IDC_WIZ_NEXT, true);
        if (valid)
            go_next(WizPage::GetFile);
        return TRUE;
    }
    case IDC_WIZ_FINISH: {
        bool valid = validate_zip_busy(frame, IDC_WIZ_FINISH);
        enable_wizard_button(IDC_WIZ_FINISH, !g_options.installation_mode);
        return valid ? 0 : 1;
    }
    case IDC_WIZ_BACK:
        go_back(WizPage::GetFile);
        return TRUE;
    }
    return FALSE;
}

namespace {

void enable_greeting_controls(HWND frame, bool on)
{
    for (int id : {IDC_WIZ_GREETING_SAVE, IDC_WIZ_TITLE_LABEL, IDC_WIZ_TEXT, IDC_WIZ_BUTTONS_GROUP,
                   IDC_WIZ_GREETING_OK, IDC_WIZ_GREETING_YES_NO, IDC_WIZ_GREETING_OK_CANCEL})
        enable_control(frame, id, on);
}

void set_greeting_buttons(HWND frame, bool ok, bool yes_no, bool ok_cancel, bool buttons, bool both)
{
    set_checked(frame, IDC_WIZ_GREETING_OK, ok);
    set_checked(frame, IDC_WIZ_GREETING_YES_NO, yes_no);
    set_checked(frame, IDC_WIZ_GREETING_OK_CANCEL, ok_cancel);
    g_options.greeting_buttons = buttons;
    g_options.greeting_ok_cancel = both;
}

void read_title_field(HWND frame)
{
    g_options.title = page_text(frame, IDC_WIZ_TEXT);
    g_options.title_given = g_options.title.Length() > 0;
}

// Leaving the greeting page: the title, and the text when it fits.
bool store_greeting(HWND frame)
{
    read_title_field(frame);
    return store_edit_if_fits(frame, IDC_WIZ_GREETING, kGreetingLimit + 1, g_options.greeting_text, false);
}

}  // namespace

INT_PTR wiz_getdiz_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::GetDiz))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::GetDiz);
        limit_edit(frame, IDC_WIZ_GREETING, kGreetingLimit);
        limit_edit(frame, IDC_WIZ_TEXT, kSfxMaxTitle);
        set_page_text(frame, IDC_WIZ_GREETING, g_options.greeting_text);
        set_page_text(frame, IDC_WIZ_TEXT, g_options.title);
        focus_control(frame, IDC_WIZ_GREETING);
        enable_greeting_controls(frame, g_options.greeting_text.HasText());
        bool buttons = g_options.greeting_buttons, both = buttons && g_options.greeting_ok_cancel;
        set_greeting_buttons(frame, !buttons, buttons && !both, both, buttons, both);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    int id = LOWORD(wparam);
    switch (id) {
    case IDC_WIZ_GREETING:
        if (HIWORD(wparam) == EN_CHANGE)
            enable_greeting_controls(frame, GetWindowTextLengthW(GetDlgItem(frame, IDC_WIZ_GREETING)) > 0);
        return TRUE;
    case IDC_WIZ_GREETING_OK:
    case IDC_WIZ_GREETING_YES_NO:
    case IDC_WIZ_GREETING_OK_CANCEL:
        if (is_click(wparam)) {
            bool buttons = id != IDC_WIZ_GREETING_OK, both = id == IDC_WIZ_GREETING_OK_CANCEL;
            set_greeting_buttons(frame, !buttons, buttons && !both, both, buttons, both);
        }
        return TRUE;
    case IDC_WIZ_GREETING_USE_FILE: {
        QlStr path = start_name(g_options.greeting_file, WizTextFile::Greeting, IDS_WIZ_MESSAGE_FILE);
        if (browse_for_text_file(frame, path)) {
            g_options.greeting_file = path;
            if (check_named_file(frame, IDC_WIZ_GREETING, kGreetingLimit, false, IDS_WIZ_MESSAGE_LABEL, path) &&
                load_message_text(g_options.zip_name, wizard_mode())) {
                set_page_text(frame, IDC_WIZ_GREETING, g_options.greeting_text);
                enable_greeting_controls(frame, g_options.greeting_text.HasText());
            }
        }
        return TRUE;
    }
    case IDC_WIZ_GREETING_SAVE: {
        if (!store_edit_if_fits(frame, IDC_WIZ_GREETING, kGreetingLimit + 1, g_options.greeting_text, false))
            return TRUE;
        QlStr path = start_name(g_options.greeting_file, WizTextFile::Greeting, IDS_WIZ_MESSAGE_FILE);
        if (browse_for_text_file_to_save(frame, path)) {
            g_options.greeting_file = path;
            save_message_text();
        }
        return TRUE;
    }
    case IDC_WIZ_BACK:
        if (store_greeting(frame))
            go_back(WizPage::GetDiz);
        return TRUE;
    case IDC_WIZ_NEXT:
        if (store_greeting(frame)) {
            if (g_options.installation_mode)
                g_options.format = 0;
            go_next(WizPage::GetDiz);
        }
        return TRUE;
    case IDC_WIZ_FINISH:
        return store_greeting(frame) ? 0 : 1;
    }
    return FALSE;
}

namespace {

// The pages of one edit field: the default folder, and the command, which
// is checked before the wizard goes on.
struct EditPage {
    WizPage page;
    int edit;
    QlStr SfxOptions::*field;
    int limit;
    bool (*refused)();  // null: nothing to check
};

const EditPage kFolderPage = {WizPage::GetDir, IDC_WIZ_DEFAULT_FOLDER, &SfxOptions::default_folder, kFolderLimit,
                              nullptr};
const EditPage kCommandPage = {WizPage::Command, IDC_WIZ_COMMAND, &SfxOptions::command, kCommandLimit,
                               check_command};

bool store_edit_page(HWND frame, const EditPage& p)
{
    read_edit_field(frame, p.edit, g_options.*p.field, p.limit);
    return p.refused == nullptr || !p.refused();
}

INT_PTR edit_page_proc(const EditPage& p, HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, p.page))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(p.page);
        set_page_text(frame, p.edit, g_options.*p.field);
        limit_edit(frame, p.edit, p.limit);
        focus_control(frame, p.edit);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        go_back(p.page);
        return TRUE;
    case IDC_WIZ_NEXT:
        if (store_edit_page(frame, p))
            go_next(p.page);
        return TRUE;
    case IDC_WIZ_FINISH:
        return store_edit_page(frame, p) ? 0 : 1;
    }
    return FALSE;
}

}  // namespace

INT_PTR wiz_getdir_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    return edit_page_proc(kFolderPage, frame, message, wparam, lparam);
}

INT_PTR wiz_command_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    return edit_page_proc(kCommandPage, frame, message, wparam, lparam);
}

namespace {

void read_language(HWND frame)
{
    g_options.language = is_checked(frame, IDC_WIZ_ENGLISH) ? 0 : 1;
}

void show_language(HWND frame)
{
    set_checked(frame, IDC_WIZ_ENGLISH, g_options.language == 0);
    set_checked(frame, IDC_WIZ_GERMAN, g_options.language == 1);
}

void read_promisc(HWND frame)
{
    g_options.format = 0;
    g_options.option_3 = false;
    g_options.auto_unzip = is_checked(frame, IDC_WIZ_AUTO);
    read_language(frame);
    g_options.run_as_admin = is_checked(frame, IDC_WIZ_RUN_AS_ADMIN);
}

}  // namespace

INT_PTR wiz_promisc_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::ProMisc))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::ProMisc);
        set_checked(frame, IDC_WIZ_AUTO, g_options.auto_unzip);
        show_language(frame);
        focus_control(frame, IDC_WIZ_AUTO);
        show_run_as(frame);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        go_back(WizPage::ProMisc);
        return TRUE;
    case IDC_WIZ_NEXT:
        read_promisc(frame);
        if (ask_auto_caution())
            go_next(WizPage::ProMisc);
        return TRUE;
    case IDC_WIZ_FINISH:
        read_promisc(frame);
        return 0;
    }
    return FALSE;
}

namespace {

// An inf command is best waited for by RUNONCE.
void suggest_runonce(HWND frame, QlStr& wait_for)
{
    if (!command_is_inf() || wait_for.HasText())
        return;
    if (message_box_id(IDS_WIZ_SUGGEST_RUNONCE, load_message(IDS_WIZ_SUGGEST_RUNONCE), MB_ICONQUESTION | MB_YESNO,
                       frame) == IDYES) {
        wait_for = QlStr(L"RUNONCE");
        set_page_text(frame, IDC_WIZ_WAIT_FOR, wait_for);
    }
}

}  // namespace

INT_PTR wiz_procmd_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::ProCmd))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::ProCmd);
        set_page_text(frame, IDC_WIZ_COMMAND, g_options.command);
        limit_edit(frame, IDC_WIZ_COMMAND, kCommandLimit);
        if (zip_has_isdel_entry()) {
            g_options.wait_name = QlStr(L"_ISDEL");
            set_page_text(frame, IDC_WIZ_WAIT_NOTE, load_message(IDS_WIZ_ISDEL_NOTE));
        }
        if (g_options.wait_name.HasText())
            set_page_text(frame, IDC_WIZ_WAIT_FOR, g_options.wait_name);
        focus_control(frame, IDC_WIZ_COMMAND);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        go_back(WizPage::ProCmd);
        return TRUE;
    case IDC_WIZ_NEXT: {
        read_edit_field(frame, IDC_WIZ_COMMAND, g_options.command, kCommandLimit);
        if (!g_options.command.HasText()) {
            sink_message_box(IDS_WIZ_NO_COMMAND, nullptr, load_message(IDS_WIZ_NO_COMMAND), QlStr(), MB_OK);
            focus_control(frame, IDC_WIZ_COMMAND);
            return TRUE;
        }
        if (check_command())
            return TRUE;
        QlStr wait_for = page_text(frame, IDC_WIZ_WAIT_FOR);
        suggest_runonce(frame, wait_for);
        if (!wiz_wait_for_valid(wait_for)) {
            sink_message_box(IDS_WIZ_WAIT_FOR_INVALID, nullptr, load_message(IDS_WIZ_WAIT_FOR_INVALID), QlStr(),
                             MB_OK);
            focus_control(frame, IDC_WIZ_WAIT_FOR);
            return TRUE;
        }
        g_options.wait_name = wait_for;
        go_next(WizPage::ProCmd);
        return TRUE;
    }
    case IDC_WIZ_FINISH:
        return TRUE;
    }
    return FALSE;
}

namespace {

// The two text pages of the stub's own texts: the dialog text (required
// when going on) and the about text, each with its file to use or save.
struct TextPage {
    WizPage page;
    int edit;
    int use_file;
    int save;
    QlStr SfxOptions::*text;
    QlStr SfxOptions::*file;
    WizTextFile kind;
    int suffix_id;
    int label_id;
    bool required;           // for Next and Finish (Back never requires it)
    int (*load)();           // reads the named file into the record
    bool (*store)();         // writes the record's text to the named file
};

const TextPage kDialogTextPage = {WizPage::Profiles, IDC_WIZ_DIALOG_TEXT, IDC_WIZ_DIALOG_USE_FILE,
                                  IDC_WIZ_DIALOG_SAVE, &SfxOptions::dialog_text, &SfxOptions::dialog_text_file,
                                  WizTextFile::DialogText, IDS_WIZ_DIALOG_FILE, IDS_WIZ_DIALOG_TEXT_LABEL, true,
                                  load_setup_dialog_text, save_setup_dialog_text};
const TextPage kAboutTextPage = {WizPage::GetAbout, IDC_WIZ_ABOUT_TEXT, IDC_WIZ_ABOUT_USE_FILE, IDC_WIZ_ABOUT_SAVE,
                                 &SfxOptions::about_text, &SfxOptions::about_text_file, WizTextFile::About,
                                 IDS_WIZ_ABOUT_FILE, IDS_WIZ_ABOUT_LABEL, false, load_about_text, save_about_text};

void enable_save_by_text(HWND frame, const TextPage& p)
{
    enable_control(frame, p.save, GetWindowTextLengthW(GetDlgItem(frame, p.edit)) > 0);
}

bool store_page_text(HWND frame, const TextPage& p, bool required)
{
    return store_edit_if_fits(frame, p.edit, kTextLimit + 1, g_options.*p.text, required);
}

INT_PTR text_page_proc(const TextPage& p, HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, p.page))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(p.page);
        set_page_text(frame, p.edit, g_options.*p.text);
        limit_edit(frame, p.edit, kTextLimit);
        enable_save_by_text(frame, p);
        focus_control(frame, p.edit);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    int id = LOWORD(wparam);
    if (id == p.edit) {
        if (HIWORD(wparam) == EN_CHANGE)
            enable_save_by_text(frame, p);
        return TRUE;
    }
    if (id == p.use_file) {
        QlStr path = start_name(g_options.*p.file, p.kind, p.suffix_id);
        if (browse_for_text_file(frame, path)) {
            g_options.*p.file = path;
            if (check_named_file(frame, p.edit, kTextLimit, p.required, p.label_id, path) && p.load() == kTextRead) {
                set_page_text(frame, p.edit, g_options.*p.text);
                enable_save_by_text(frame, p);
            }
        }
        return TRUE;
    }
    if (id == p.save) {
        if (!store_page_text(frame, p, false))
            return TRUE;
        QlStr path = start_name(g_options.*p.file, p.kind, p.suffix_id);
        if (browse_for_text_file_to_save(frame, path)) {
            g_options.*p.file = path;
            p.store();
        }
        return TRUE;
    }
    switch (id) {
    case IDC_WIZ_BACK:
        if (store_page_text(frame, p, false))
            go_back(p.page);
        return TRUE;
    case IDC_WIZ_NEXT:
        if (store_page_text(frame, p, p.required))
            go_next(p.page);
        return TRUE;
    case IDC_WIZ_FINISH:
        // The about text is stored when it fits; the build starts either way.
        return store_page_text(frame, p, p.required) || !p.required ? 0 : 1;
    }
    return FALSE;
}

}  // namespace

INT_PTR wiz_profiles_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    return text_page_proc(kDialogTextPage, frame, message, wparam, lparam);
}

INT_PTR wiz_getabout_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    return text_page_proc(kAboutTextPage, frame, message, wparam, lparam);
}

INT_PTR wiz_getico_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::GetIco))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::GetIco);
        if (g_os.nt_family) {
            set_page_text(frame, IDC_WIZ_ICON_FILE, g_options.icon_file);
            limit_edit(frame, IDC_WIZ_ICON_FILE, kIconLimit);
            focus_control(frame, IDC_WIZ_ICON_FILE);
            ShowWindow(GetDlgItem(frame, IDC_WIZ_ICON_NOTE), SW_HIDE);
        } else {
            enable_control(frame, IDC_WIZ_ICON_FILE, false);
            enable_control(frame, IDC_WIZ_BROWSE_ICON, false);
            ShowWindow(GetDlgItem(frame, IDC_WIZ_ICON_NOTE), SW_SHOW);
        }
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    int id = LOWORD(wparam);
    switch (id) {
    case IDC_WIZ_BROWSE_ICON: {
        QlStr path = page_text(frame, IDC_WIZ_ICON_FILE);
        if (browse_for_icon_file(frame, path))
            set_page_text(frame, IDC_WIZ_ICON_FILE, path);
        return TRUE;
    }
    case IDC_WIZ_BACK:
    case IDC_WIZ_NEXT:
    case IDC_WIZ_FINISH: {
        read_edit_field(frame, IDC_WIZ_ICON_FILE, g_options.icon_file, kIconLimit);
        bool ok = check_named_file(frame, IDC_WIZ_ICON_FILE, g_os.nt_family ? 0x7FFFFFFF : 3072, false,
                                   IDS_WIZ_ICON_LABEL, g_options.icon_file);
        if (!ok || id == IDC_WIZ_FINISH)
            return 0;
        if (id == IDC_WIZ_BACK)
            go_back(WizPage::GetIco);
        else
            go_next(WizPage::GetIco);
        return TRUE;
    }
    }
    return FALSE;
}

namespace {

void read_misc(HWND frame)
{
    g_options.overwrite = is_checked(frame, IDC_WIZ_OVERWRITE);
    g_options.option_3 = false;
    read_language(frame);
    g_options.auto_unzip = is_checked(frame, IDC_WIZ_AUTO);
    g_options.run_as_admin = is_checked(frame, IDC_WIZ_RUN_AS_ADMIN);
}

}  // namespace

INT_PTR wiz_misc_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (common(frame, message, wparam, lparam, WizPage::Misc))
        return TRUE;
    if (message == WM_INITDIALOG) {
        begin_wizard_page(WizPage::Misc);
        focus_control(frame, IDC_WIZ_OVERWRITE);
        enable_control(frame, IDC_WIZ_AUTO, true);
        set_checked(frame, IDC_WIZ_AUTO, g_options.auto_unzip);
        set_checked(frame, IDC_WIZ_OVERWRITE, g_options.overwrite);
        show_language(frame);
        // Unzipping into a set folder without a question would overwrite
        // there without one too.
        if (g_options.default_folder.HasText() && g_options.overwrite && g_options.auto_unzip) {
            g_options.overwrite = false;
            set_checked(frame, IDC_WIZ_OVERWRITE, false);
        }
        show_run_as(frame);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_WIZ_BACK:
        read_misc(frame);
        go_back(WizPage::Misc);
        return TRUE;
    case IDC_WIZ_NEXT:
        read_misc(frame);
        if (ask_auto_caution())
            go_next(WizPage::Misc);
        return TRUE;
    case IDC_WIZ_FINISH:
        read_misc(frame);
        return ask_auto_caution() ? 0 : 1;
    }
    return FALSE;
}
