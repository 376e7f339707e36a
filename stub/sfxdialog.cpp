// Dialog 100 as far as start-up needs it: its texts and its buttons. The
// extraction behind OK comes with the mode's dialog.
#include <windows.h>

#include <new>

#include "stub/sfxres.h"
#include "stub/sfxstub.h"

namespace {

QlStr own_file_name()
{
    int slash = g_sfx.original_path.FindLastChar(L'\\', g_sfx.original_path.Length());
    return slash < 0 ? g_sfx.original_path : g_sfx.original_path.MidFrom(slash + 1);
}

void set_caption(HWND dialog)
{
    QlStr caption;
    caption.Format(L"%s - %s", sfx_text(IDS_CAPTION).Text(), own_file_name().Text());
    if (g_sfx.header.flags & kSfxFlagTitleCaption)
        caption = g_sfx.config[5].HasText() ? g_sfx.config[5] : sfx_text(IDS_SETUP_CAPTION);
    SetWindowTextW(dialog, caption.Text());
}

void init_dialog(HWND dialog)
{
    g_sfx.main_window = dialog;
    set_caption(dialog);
    if (g_sfx.header.flags & kSfxFlagNoAbout)
        ShowWindow(GetDlgItem(dialog, IDC_SFX_ABOUT), SW_HIDE);
#if QL_SFX_INSTALL
    SetDlgItemTextW(dialog, IDC_SFX_TEXT, g_sfx.config[4].Text());
#else
    QlStr name = own_file_name();
    if (name.Length() >= 25)
        name = sfx_text(IDS_THIS_FILE);
    QlStr text;
    text.Format(sfx_text(IDS_UNZIP_TEXT).Text(), name.Text());
    SetDlgItemTextW(dialog, IDC_SFX_TEXT, text.Text());
    SendDlgItemMessageW(dialog, IDC_SFX_FOLDER, EM_LIMITTEXT, kSfxFolderMaxUnits, 0);
    QlStr folder = g_sfx.unzip_folder.HasText() ? g_sfx.unzip_folder : g_sfx.config[0];
    SetDlgItemTextW(dialog, IDC_SFX_FOLDER, folder.Text());
    CheckDlgButton(dialog, IDC_SFX_OVERWRITE, g_sfx.overwrite_default ? BST_CHECKED : BST_UNCHECKED);
#endif
    if (g_sfx.auto_start || (g_sfx.header.flags & kSfxFlagSilent))
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

INT_PTR handle_message(HWND dialog, UINT message, WPARAM wparam)
{
    switch (message) {
    case WM_INITDIALOG:
        init_dialog(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        break;
    case WM_DESTROY:
        g_sfx.main_window = nullptr;
        break;
    }
    return FALSE;
}

}  // namespace

// A C++ exception must never unwind through the dialog manager: a fatal
// message ends the dialog and its value reaches wWinMain through pending_return.
INT_PTR CALLBACK sfx_main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    try {
        return handle_message(dialog, message, wparam);
    } catch (const SfxReturn& unwind) {
        g_sfx.pending_return = unwind.value;
    } catch (const std::bad_alloc&) {
        out_of_memory_exit();
    } catch (...) {
        internal_error(kSfxHeadSource, 3049);
    }
    EndDialog(dialog, IDCANCEL);
    return TRUE;
}
