// The spanning dialogs (see spandlg.h).
#include "builder/spandlg.h"

#include <cwctype>

#include "builder/callbacks.h"
#include "builder/services.h"
#include "builder/sfxoptions.h"
#include "builder/trace.h"
#include "builder/ui/dlg.h"
#include "builder/ui/msgsink.h"
#include "common/disklabel.h"
#include "help/helpids.h"

namespace {

enum {
    kDlgSpanDrive = 300,
    kCtlDriveCombo = 301,
    kDlgSpanProgress = 4000,
    kDlgDiskPrompt = 5000,
    kCtlEraseBox = 5002,
    kCtlPromptText = 5003,
    kCtlIcon = 5004,
    kIconSpanning = 5005,
    kMsgNoRemovableDrive = 6080,
    kMsgCreatingDisk1 = 6110,
};

HWND g_spanProgress = nullptr;
const QlStr* g_diskPromptText = nullptr;

HINSTANCE module() { return GetModuleHandleW(nullptr); }

// The icon of the three dialogs, destroyed with the dialog.
void show_icon(HWND dialog)
{
    HICON icon = static_cast<HICON>(LoadImageW(module(), MAKEINTRESOURCEW(kIconSpanning), IMAGE_ICON, 32, 32, 0));
    if (icon != nullptr)
        SendDlgItemMessageW(dialog, kCtlIcon, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
}

void destroy_icon(HWND dialog)
{
    HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageW(dialog, kCtlIcon, STM_GETICON, 0, 0));
    if (icon != nullptr)
        DestroyIcon(icon);
}

// What the three dialogs share: the common handler with their help id, on
// WM_INITDIALOG centring and the icon, on WM_DESTROY the icon's end. True
// when the message needs nothing more.
bool span_dialog_common(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, int help_id)
{
    if (dialog_common_handler(dialog, message, wparam, lparam, help_id))
        return true;
    if (message == WM_INITDIALOG) {
        center_window(dialog, nullptr, nullptr, true);
        show_icon(dialog);
    } else if (message == WM_DESTROY) {
        destroy_icon(dialog);
    }
    return false;
}

}  // namespace

int list_removable_drives(HWND combo)
{
    int count = 0;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        wchar_t drive[4] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(drive) != DRIVE_REMOVABLE)
            continue;
        drive[2] = 0;
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drive));
        if (g_options.spanning_drive == 0)
            g_options.spanning_drive = letter;
        ++count;
    }
    return count;
}

namespace {

INT_PTR CALLBACK span_drive_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (span_dialog_common(dialog, message, wparam, lparam, IDH_SPAN_DRIVE))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG: {
        HWND combo = GetDlgItem(dialog, kCtlDriveCombo);
        int count = list_removable_drives(combo);
        if (g_options.spanning_drive != 0) {
            wchar_t text[3] = {static_cast<wchar_t>(towupper(g_options.spanning_drive)), L':', 0};
            SetWindowTextW(combo, text);
        }
        if (count == 0) {
            message_box_id(kMsgNoRemovableDrive, load_message(kMsgNoRemovableDrive), MB_OK | MB_ICONERROR);
            EndDialog(dialog, 0);
        } else if (count == 1) {
            EndDialog(dialog, 1);
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            wchar_t text[8] = {0};
            GetDlgItemTextW(dialog, kCtlDriveCombo, text, 8);
            if (text[0] != 0)
                g_options.spanning_drive = static_cast<QlChar>(towupper(text[0]));
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK span_progress_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (span_dialog_common(dialog, message, wparam, lparam, kQlDlgNoHelp))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dialog, kProgressStatusLine, load_message(kMsgCreatingDisk1).Text());
        return TRUE;
    case WM_SETCURSOR:
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, update_cursor());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDCANCEL) {
            request_cancel();
            if (progress_window() == dialog)
                set_progress_window(nullptr);
            g_spanProgress = nullptr;
            DestroyWindow(dialog);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK disk_prompt_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (span_dialog_common(dialog, message, wparam, lparam, IDH_DISK_PROMPT))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG:
        if (g_diskPromptText == nullptr) {
            report_assertion("spandlg", 120);
            EndDialog(dialog, 0);
            return TRUE;
        }
        SetDlgItemTextW(dialog, kCtlPromptText, g_diskPromptText->Text() ? g_diskPromptText->Text() : L"");
        CheckDlgButton(dialog, kCtlEraseBox, g_options.wipe_disks ? BST_CHECKED : BST_UNCHECKED);
        SetFocus(GetDlgItem(dialog, kCtlEraseBox));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            g_options.wipe_disks = IsDlgButtonChecked(dialog, kCtlEraseBox) == BST_CHECKED;
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 0);
            request_cancel();
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

int choose_span_drive()
{
    INT_PTR result = run_modal_dialog(module(), kDlgSpanDrive, main_window(), span_drive_proc, 0);
    if (result != 1)
        g_options.spanning_drive = 0;
    return result == 1 ? 1 : 0;
}

bool show_span_progress()
{
    HWND main = main_window();
    // Through the dialog library, which sets the Japanese font when it must.
    HWND dialog = qlDlgCreateDialogParam(module(), MAKEINTRESOURCEW(kDlgSpanProgress), main, span_progress_proc, 0);
    if (dialog == nullptr)
        return false;
    if (main != nullptr)
        EnableWindow(main, FALSE);
    ShowWindow(dialog, SW_SHOW);
    g_spanProgress = dialog;
    set_progress_window(dialog);
    process_pending_messages();
    return true;
}

void close_span_progress()
{
    if (g_spanProgress != nullptr)
        DestroyWindow(g_spanProgress);
    if (progress_window() == g_spanProgress)
        set_progress_window(nullptr);
    g_spanProgress = nullptr;
    if (main_window() != nullptr)
        EnableWindow(main_window(), TRUE);
}

int run_disk_dialog(const QlStr& text)
{
    g_diskPromptText = &text;
    HWND owner = progress_window() ? progress_window() : main_window();
    INT_PTR result = run_modal_dialog(module(), kDlgDiskPrompt, owner, disk_prompt_proc, 0);
    g_diskPromptText = nullptr;
    return result == 1 ? 1 : 0;
}

int read_span_disk_number(const wchar_t* drive_root)
{
    char root[8] = {0};
    int length = 0;
    while (drive_root[length] != 0) {
        if (length >= 7) {
            report_assertion("spandlg", 250);
            return -1;
        }
        root[length] = static_cast<char>(drive_root[length]);
        ++length;
    }
    char label[32] = {0};
    if (!GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
        return -1;
    label[31] = 0;
    // The label's characters as they are (the rule looks at ASCII only).
    QlChar wide[32] = {0};
    for (int i = 0; i < 32 && label[i] != 0; ++i)
        wide[i] = static_cast<QlChar>(static_cast<unsigned char>(label[i]));
    return qlSpanDiskFromLabel(wide);
}

std::wstring span_drive_root()
{
    return std::wstring(1, static_cast<wchar_t>(g_options.spanning_drive)) + L":\\";
}

std::wstring place_on_span_drive(const std::wstring& path, const wchar_t* extension)
{
    size_t slash = path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos)
        name = name.substr(0, dot);
    return span_drive_root() + name + extension;
}
