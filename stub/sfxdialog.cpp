// Dialog 100 of both modes. Installation: Setup extracts into a new
// temporary folder, runs the setup command there, waits for it and deletes
// the folder. Standard: Unzip extracts into the "Unzip To" folder and may
// run a program when done or open this file in the main archiver.
//
// Everything runs on one thread: the waits pump messages, so Cancel and
// Done re-enter this procedure while an earlier Setup is still waiting, and
// they act through the flags of DialogState.
#include <windows.h>

#include <new>

#include "common/QlRaise.h"
#include "stub/engine/unzip.h"
#include "stub/sfxdialog.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"

namespace {

constexpr UINT_PTR kMeterTimer = 69;
#if QL_SFX_INSTALL
constexpr UINT kMeterTimerMs = 10;
#else
constexpr UINT kMeterTimerMs = 500;
#endif
// Archives this large show the meter at once.
constexpr uint32_t kMeterAtOnceOffset = 0x80000;
// With flag 0x4, the setup program's own child gets this long to start.
constexpr DWORD kWaitNameDelayMs = 10000;

struct DialogState {
    bool running;           // the setup command is being waited for
    bool cancelled;
    bool waiting_for_done;  // WAIT: the command ended, the user confirms
    bool extracting;
    bool meter_shown;
    bool quit;              // WM_QUIT arrived during a wait
    QlStr temp_folder;
};

DialogState g_state;

bool silent()
{
    return (g_sfx.header.flags & kSfxFlagSilent) != 0;
}

bool unattended()
{
    return g_sfx.auto_start || silent();
}

void set_status(HWND dialog, const QlStr& text)
{
    SetDlgItemTextW(dialog, IDC_SFX_STATUS, text.Text());
}

void enable_start(HWND dialog, bool enable)
{
    EnableWindow(GetDlgItem(dialog, IDOK), enable);
}

// Enter presses Cancel (or Close) while the first button is busy.
void make_cancel_default(HWND dialog)
{
    SendMessageW(dialog, DM_SETDEFID, IDCANCEL, 0);
    SendDlgItemMessageW(dialog, IDOK, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendDlgItemMessageW(dialog, IDCANCEL, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// An unattended dialog (auto or silent) must end by itself: nobody is there
// to press Cancel, and a silent one cannot even be seen.
void closing_step(HWND dialog, bool when)
{
    if (when)
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    enable_start(dialog, true);
}

void set_caption(HWND dialog)
{
    QlStr caption;
    caption.Format(L"%s - %s", sfx_text(IDS_CAPTION).Text(), own_file_name().Text());
    if (g_sfx.header.flags & kSfxFlagTitleCaption)
        caption = g_sfx.config[5].HasText() ? g_sfx.config[5] : sfx_text(IDS_SETUP_CAPTION);
    SetWindowTextW(dialog, caption.Text());
}

void init_common(HWND dialog)
{
    g_sfx.silent = silent();
    g_sfx.main_window = dialog;
    g_state = DialogState();
    if (g_sfx.silent) {
        SetWindowLongW(dialog, GWL_STYLE, GetWindowLongW(dialog, GWL_STYLE) & ~WS_VISIBLE);
        SetWindowLongW(dialog, GWL_EXSTYLE, GetWindowLongW(dialog, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    } else {
        centre_on_screen(dialog);
        ShowWindow(GetDlgItem(dialog, IDC_SFX_METER), SW_HIDE);
    }
    set_caption(dialog);
    if (g_sfx.header.flags & kSfxFlagNoAbout)
        ShowWindow(GetDlgItem(dialog, IDC_SFX_ABOUT), SW_HIDE);
}

void start_or_focus(HWND dialog)
{
    if (unattended())
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    if (!g_sfx.silent) {
        SetForegroundWindow(dialog);
        SetActiveWindow(dialog);
    }
}

void show_about()
{
#if QL_SFX_INSTALL
    const QlStr& about = g_sfx.config[0];
#else
    const QlStr& about = g_sfx.config[6];
#endif
    QlStr product = sfx_text(IDS_PRODUCT_LINE);
    QlStr text = product;
    if (about.HasText())
        text.Format(sfx_text(IDS_ABOUT).Text(), about.Text(), product.Text());
    sfx_box(g_sfx.main_window, text, MB_OK);
}

// --- the meter around an extraction

void show_meter_now(HWND dialog)
{
    ShowWindow(GetDlgItem(dialog, IDC_SFX_STATUS), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_SFX_METER), SW_SHOW);
    g_state.meter_shown = true;
    g_sfx.meter_in_use = true;
}

void start_meter(HWND dialog)
{
    g_sfx.meter_in_use = false;
    g_state.meter_shown = false;
    sfx_reset_meter_text();
    if (g_sfx.silent)
        return;
    HWND meter = GetDlgItem(dialog, IDC_SFX_METER);
    SendMessageW(meter, kMeterSetPosition, 0, 0);
    SendMessageW(meter, kMeterSetRange, 100, 0);
    // Large archives and spanned sets show it at once; otherwise the timer
    // looks whether the extraction is still in its first third.
    if (g_sfx.header.end_record_offset >= kMeterAtOnceOffset || g_sfx.spanned ||
        !SetTimer(dialog, kMeterTimer, kMeterTimerMs, nullptr))
        show_meter_now(dialog);
}

void on_meter_timer(HWND dialog)
{
    // Not while a box or the password dialog is open over the dialog.
    if (GetLastActivePopup(dialog) != dialog)
        return;
    KillTimer(dialog, kMeterTimer);
    if (g_state.extracting && sfx_meter_percent() * 3 < 100)
        show_meter_now(dialog);
}

void stop_meter(HWND dialog)
{
    g_sfx.meter_in_use = false;
    if (g_sfx.silent)
        return;
    KillTimer(dialog, kMeterTimer);
    HWND meter = GetDlgItem(dialog, IDC_SFX_METER);
    SendMessageW(meter, kMeterSetPosition, 100, 0);
    UpdateWindow(dialog);
    if (g_state.meter_shown) {
        ShowWindow(meter, SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_SFX_STATUS), SW_SHOW);
        g_state.meter_shown = false;
    }
    UpdateWindow(dialog);
}

// The extraction with the meter, the password freed after it.
int extract_with_meter(HWND dialog, const QlStr& folder)
{
    start_meter(dialog);
    g_state.extracting = true;
    int result = sfx_extract_all(folder);
    g_state.extracting = false;
    free_password();
    stop_meter(dialog);
    set_status(dialog, QlStr());
    return result;
}

#if QL_SFX_INSTALL

// --- installation mode

bool stop_waiting()
{
    return g_state.cancelled || g_state.quit;
}

// The folder is left from its parent, so that it can be removed.
void remove_temp_folder()
{
    if (!g_state.temp_folder.HasText())
        return;
    QlStr parent = g_state.temp_folder + L"\\..";
    if (SetCurrentDirectoryW(parent.Text()))
        delete_temp_folder(g_state.temp_folder);
    g_state.temp_folder.Clear();
}

void end_of_run(HWND dialog)
{
    g_state.running = false;
    if (g_state.temp_folder.HasText()) {
        set_status(dialog, sfx_text(IDS_DELETING));
        UpdateWindow(dialog);
        pump_pending_messages();
        remove_temp_folder();
    }
    EndDialog(dialog, 1);
    closing_step(dialog, unattended());
}

void init_install(HWND dialog)
{
    init_common(dialog);
    if (g_sfx.program_icon) {
        SendDlgItemMessageW(dialog, IDC_SFX_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(g_sfx.program_icon), 0);
        SetWindowLongW(dialog, GWL_EXSTYLE, GetWindowLongW(dialog, GWL_EXSTYLE) | WS_EX_APPWINDOW);
        SetWindowLongW(dialog, GWL_STYLE, GetWindowLongW(dialog, GWL_STYLE) & ~WS_SYSMENU);
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_sfx.program_icon));
    }
    SetDlgItemTextW(dialog, IDC_SFX_TEXT, g_sfx.config[4].Text());
    start_or_focus(dialog);
}

bool done_confirmed(HWND dialog)
{
    return sfx_box_id(dialog, IDS_ASK_SETUP_DONE, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// After the command: WAIT (not when silent: nobody could confirm), or the
// wait name. False when the run was cancelled meanwhile.
bool wait_after_command(HWND dialog)
{
    if (g_sfx.wait_for_done && !g_sfx.silent) {
        SetDlgItemTextW(dialog, IDOK, sfx_text(IDS_DONE).Text());
        enable_start(dialog, true);
        g_state.waiting_for_done = true;
        // Done's confirmation finishes the run itself.
        while (g_state.waiting_for_done && !stop_waiting()) {
            WaitMessage();
            if (!pump_pending_messages())
                g_state.quit = true;
        }
        return false;
    }
    if ((g_sfx.header.flags & kSfxFlagWait) && g_sfx.header.wait_name[0] != 0) {
        wait_pumping(kWaitNameDelayMs, nullptr, stop_waiting);
        if (!stop_waiting())
            wait_until_program_free(stop_waiting);
    }
    return !stop_waiting();
}

void on_setup(HWND dialog)
{
    if (g_state.waiting_for_done) {
        if (!done_confirmed(dialog))
            return;
        g_state.waiting_for_done = false;
        end_of_run(dialog);
        return;
    }
    if (!g_sfx.wait_for_done)
        make_cancel_default(dialog);
    enable_start(dialog, false);

    QlStr folder;
    if (!create_temp_folder(&folder)) {
        HWND owner = GetLastActivePopup(dialog);
        sfx_box_id(owner, IDS_NO_TEMP_FOLDER, MB_ICONERROR);
        if (g_sfx.silent)
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return;  // Setup stays disabled; Cancel is left
    }
    g_state.temp_folder = folder;
    if (!ask_password()) {
        remove_temp_folder();
        closing_step(dialog, g_sfx.silent);
        return;
    }
    int result = extract_with_meter(dialog, folder);
    if (result != kSfxExtractDone || g_state.cancelled) {
        remove_temp_folder();
        set_status(dialog, sfx_text(kSfxTextUnzipAborted));
        EndDialog(dialog, 1);
        closing_step(dialog, g_sfx.silent);
        return;
    }
    // From here on a run whose command does not run keeps its folder, with
    // the extracted files in it.
    if (change_to_folder(folder) != 0) {
        sfx_box_id(dialog, IDS_CHDIR_ERROR, MB_OK);
        g_state.temp_folder.Clear();
        closing_step(dialog, unattended());
        return;
    }

    const QlStr& command = g_sfx.config[1];
    QlStr arguments = g_sfx.config[2];
    if (command.HasText() && g_sfx.extra_args[0]) {
        if (arguments.HasText())
            arguments.AppendChar(L' ');
        arguments.AppendText(g_sfx.extra_args);
    }
    HANDLE process = nullptr;
    if (!command.HasText() || run_setup_command(command, arguments, &process) <= 31) {
        if (!command.HasText())
            sfx_box_id(dialog, IDS_NO_COMMAND, MB_ICONERROR);
        g_sfx.keep_temp_folder = true;
        end_of_run(dialog);
        return;
    }
    g_state.running = true;
    g_state.cancelled = false;
    // Without a handle (the shell gave none) there is nothing to wait for.
    if (process) {
        wait_pumping(INFINITE, process, stop_waiting);
        CloseHandle(process);
    }
    if (stop_waiting())
        return;  // cancelled while it ran: the folder stays, as 1017 said
    if (!wait_after_command(dialog))
        return;
    end_of_run(dialog);
}

void on_cancel(HWND dialog)
{
    if (g_state.waiting_for_done) {
        if (sfx_box_id(dialog, IDS_ASK_CANCEL_WAIT, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
            IDYES)
            return;
    } else if (g_state.running) {
        QlStr text;
        text.Format(sfx_text(IDS_ASK_CANCEL_RUNNING).Text(), g_sfx.config[1].Text());
        if (sfx_box(dialog, text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return;
    }
    g_state.cancelled = true;
    EndDialog(dialog, 1);
}

INT_PTR handle_command(HWND dialog, WORD id)
{
    switch (id) {
    case IDOK:
        on_setup(dialog);
        return TRUE;
    case IDCANCEL:
        on_cancel(dialog);
        return TRUE;
    case IDC_SFX_ABOUT:
        show_about();
        return TRUE;
    }
    return FALSE;
}

#else

// --- standard mode

QlStr dialog_folder(HWND dialog)
{
    HWND edit = GetDlgItem(dialog, IDC_SFX_FOLDER);
    int length = GetWindowTextLengthW(edit);
    QlStr folder;
    if (length > 0) {
        folder.SetLength(length);
        GetWindowTextW(edit, folder.Buffer(), length + 1);
        folder.SetLength(lstrlenW(folder.Text()));
    }
    folder.TrimLeft();
    folder.TrimRight();
    return folder;
}

void init_standard(HWND dialog)
{
    init_common(dialog);
    CheckDlgButton(dialog, IDC_SFX_OVERWRITE, g_sfx.overwrite_default ? BST_CHECKED : BST_UNCHECKED);

    QlStr name = own_file_name();
    if (name.Length() >= 25)
        name = sfx_text(IDS_THIS_FILE);
    QlStr text;
    text.Format(sfx_text(IDS_UNZIP_TEXT).Text(), name.Text());
    SetDlgItemTextW(dialog, IDC_SFX_TEXT, text.Text());

    SendDlgItemMessageW(dialog, IDC_SFX_FOLDER, EM_LIMITTEXT, kSfxFolderMaxUnits, 0);
    QlStr folder = g_sfx.unzip_folder.HasText() ? g_sfx.unzip_folder : g_sfx.config[0];
    folder.TrimLeft();
    folder.TrimRight();
    // "." and every relative folder mean the folder the user started the
    // stub from; this copy's own folder is deleted after the run.
    if (!folder.HasText())
        get_temp_base_folder(&folder);
    else
        folder = full_path_from_start(folder);
    SetDlgItemTextW(dialog, IDC_SFX_FOLDER, folder.Text());

    const QlStr& program = g_sfx.config[1];
    if (program.HasText()) {
        CheckDlgButton(dialog, IDC_SFX_RUN_WHEN_DONE, BST_CHECKED);
        QlStr label = sfx_text(IDS_RUN_WHEN_DONE);
        if (program.Length() <= 10)
            label.Append(program);
        else
            SetDlgItemTextW(dialog, IDC_SFX_RUN_NAME, program.Text());
        SetDlgItemTextW(dialog, IDC_SFX_RUN_WHEN_DONE, label.Text());
    } else if (!g_sfx.silent) {
        ShowWindow(GetDlgItem(dialog, IDC_SFX_RUN_WHEN_DONE), SW_HIDE);
    }
    set_status(dialog, QlStr());
    start_or_focus(dialog);
}

void run_program_when_done(HWND dialog, const QlStr& folder)
{
    const QlStr& program = g_sfx.config[1];
    if (!folder.HasText() || !SetCurrentDirectoryW(folder.Text())) {
        sfx_box_id(dialog, IDS_CHDIR_ERROR, MB_OK);
        return;
    }
    if (!program.HasText())
        return;
    QlStr arguments = g_sfx.config[2];
    if (g_sfx.extra_args[0]) {
        if (arguments.HasText())
            arguments.AppendChar(L' ');
        arguments.AppendText(g_sfx.extra_args);
    }
    int result = 0;
    run_when_done(program, arguments, &result);
    EndDialog(dialog, 1);
}

void on_unzip(HWND dialog)
{
    make_cancel_default(dialog);
    enable_start(dialog, false);
    g_sfx.overwrite_all = IsDlgButtonChecked(dialog, IDC_SFX_OVERWRITE) == BST_CHECKED;
    QlStr folder = full_path_from_start(dialog_folder(dialog));
    if (!folder.HasText()) {
        sfx_box_id(dialog, IDS_NO_FOLDER, MB_ICONERROR);
        closing_step(dialog, g_sfx.silent);
        return;
    }
    SetDlgItemTextW(dialog, IDC_SFX_FOLDER, folder.Text());
    set_status(dialog, QlStr());
    if (!ask_password()) {
        closing_step(dialog, g_sfx.silent);
        return;
    }
    int result = extract_with_meter(dialog, folder);
    if (result != kSfxExtractDone) {
        set_status(dialog, sfx_text(kSfxTextUnzipAborted));
        EndDialog(dialog, 1);
        closing_step(dialog, g_sfx.silent);
        return;
    }
    QlStr count;
    count.Format(sfx_text(kSfxTextUnzipped).Text(), static_cast<int>(sfx_extracted_count()));
    set_status(dialog, count);
    if (!unattended())
        sfx_box(dialog, count, MB_OK);
    if (IsDlgButtonChecked(dialog, IDC_SFX_RUN_WHEN_DONE) == BST_CHECKED)
        run_program_when_done(dialog, folder);
    closing_step(dialog, unattended());
}

void on_browse(HWND dialog)
{
    QlStr folder;
    if (browse_for_folder(dialog, &folder))
        SetDlgItemTextW(dialog, IDC_SFX_FOLDER, folder.Text());
}

void show_help(HWND dialog)
{
    QlStr text;
    text.Format(sfx_text(IDS_HELP).Text(), own_file_name().Text());
    sfx_box(dialog, text, MB_OK);
}

INT_PTR handle_command(HWND dialog, WORD id)
{
    switch (id) {
    case IDOK:
        on_unzip(dialog);
        return TRUE;
    case IDCANCEL:
        g_state.cancelled = true;
        EndDialog(dialog, 1);
        return TRUE;
    case IDC_SFX_BROWSE:
        on_browse(dialog);
        return TRUE;
    case IDC_SFX_HELP:
        show_help(dialog);
        return TRUE;
    case IDC_SFX_ABOUT:
        show_about();
        return TRUE;
    case IDC_SFX_RUN_ARCHIVER:
        if (open_in_main_archiver())
            EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

#endif

INT_PTR handle_message(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
#if QL_SFX_INSTALL
        init_install(dialog);
#else
        init_standard(dialog);
#endif
        return TRUE;
    case WM_COMMAND:
        return handle_command(dialog, LOWORD(wparam));
    case WM_TIMER:
        if (wparam == kMeterTimer)
            on_meter_timer(dialog);
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        // A silent dialog never shows, whatever the dialog manager does.
        if (g_sfx.silent)
            reinterpret_cast<WINDOWPOS*>(lparam)->flags &= ~SWP_SHOWWINDOW;
        return FALSE;
#if QL_SFX_INSTALL
    case WM_QUERYENDSESSION:
        end_of_run(dialog);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
#endif
    case WM_DESTROY:
        g_sfx.main_window = nullptr;
        break;
    }
    return FALSE;
}

}  // namespace

void centre_on_screen(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int x = (GetSystemMetrics(SM_CXSCREEN) + rect.left - rect.right) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) + rect.top - rect.bottom) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOACTIVATE | SWP_NOSIZE | SWP_NOZORDER);
}

QlStr own_file_name()
{
    int slash = g_sfx.original_path.FindLastChar(L'\\', g_sfx.original_path.Length());
    return slash < 0 ? g_sfx.original_path : g_sfx.original_path.MidFrom(slash + 1);
}

// A non-local return must never pass through the dialog manager: each call
// is a recovery point of its own. A fatal message ends the dialog and its
// value reaches wWinMain through pending_return.
INT_PTR CALLBACK sfx_main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    INT_PTR handled = FALSE;
    bool ended = false;
    qlCatchAll(
        [&] {
            qlCatch<std::bad_alloc>(
                [&] {
                    qlCatch<SfxReturn>(
                        [&] {
                            handled = handle_message(dialog, message, wparam, lparam);
                            if (g_sfx.silent && message != WM_DESTROY && IsWindowVisible(dialog))
                                ShowWindow(dialog, SW_HIDE);
                        },
                        [&](const SfxReturn& unwind) {
                            g_sfx.pending_return = unwind.value;
                            ended = true;
                        });
                },
                [](const std::bad_alloc&) { out_of_memory_exit(); });
        },
        [] { internal_error(kSfxHeadSource, 3049); });
    if (!ended)
        return handled;
    EndDialog(dialog, IDCANCEL);
    return TRUE;
}
