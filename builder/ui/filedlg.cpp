// The builder's open and save dialogs.
#include "builder/ui/filedlg.h"

#include <commdlg.h>

#include "builder/sfxoptions.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "filedlg";
const int kLineZipFilter = 44;
const int kLineTextFilter = 61;
const int kLineIconFilter = 78;
const int kLineSaveFilter = 95;

const int kMsgBrowse = 4060;
const int kMsgZipFilter = 4820;
const int kMsgTextFilter = 4670;
const int kMsgIconFilter = 4360;
const int kFilterUnits = 64;
const int kPathUnits = 260;

// The dialog frame loses its context-help button: there is no help behind it.
UINT_PTR CALLBACK file_dialog_hook(HWND hook, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        HWND frame = GetParent(hook);
        if (frame != nullptr) {
            SetWindowLongW(frame, GWL_EXSTYLE, GetWindowLongW(frame, GWL_EXSTYLE) & ~WS_EX_CONTEXTHELP);
            SetWindowLongW(frame, GWL_STYLE, GetWindowLongW(frame, GWL_STYLE) & ~DS_CONTEXTHELP);
        }
    }
    return 0;
}

bool run_file_dialog(HWND owner, QlStr& path, int filter_id, int line, const wchar_t* extension, bool save)
{
    wchar_t filter[kFilterUnits + 2];
    if (!load_file_filter(filter_id, filter, kFilterUnits + 2, line))
        return false;
    wchar_t file[kPathUnits + 1] = {};
    if (path.Length() <= kPathUnits && path.Text())
        lstrcpynW(file, path.Text(), kPathUnits + 1);
    QlStr title = load_message(kMsgBrowse);

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hInstance = GetModuleHandleW(nullptr);
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kPathUnits + 1;
    dialog.lpstrTitle = title.Text();
    dialog.lpstrDefExt = extension;
    dialog.lpfnHook = file_dialog_hook;
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_ENABLEHOOK | OFN_HIDEREADONLY |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (g_os.win2000_or_later)
        dialog.Flags |= OFN_DONTADDTORECENT;
    BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen)
        return false;
    path = QlStr(file);
    return true;
}

}  // namespace

bool load_file_filter(int id, wchar_t* filter, int units, int line)
{
    QlStr text = load_message(id);
    if (!qlCheck(text.Length() <= kFilterUnits && text.Length() + 2 <= units, kSource, line))
        return false;
    for (int i = 0; i < text.Length(); ++i) {
        QlChar c = text.CharAt(i);
        filter[i] = c == QL('|') ? 0 : c;
    }
    // The list ends with two NULs, whether or not the text ends with '|'.
    filter[text.Length()] = 0;
    filter[text.Length() + 1] = 0;
    return true;
}

bool browse_for_zip_file(HWND owner, QlStr& path)
{
    return run_file_dialog(owner, path, kMsgZipFilter, kLineZipFilter, L"ZIP", false);
}

bool browse_for_text_file(HWND owner, QlStr& path)
{
    return run_file_dialog(owner, path, kMsgTextFilter, kLineTextFilter, L"TXT", false);
}

bool browse_for_icon_file(HWND owner, QlStr& path)
{
    return run_file_dialog(owner, path, kMsgIconFilter, kLineIconFilter, L"ICO", false);
}

bool browse_for_text_file_to_save(HWND owner, QlStr& path)
{
    return run_file_dialog(owner, path, kMsgTextFilter, kLineSaveFilter, L"TXT", true);
}
