// The standard mode's launches: the program run when done, the main
// archiver opened on this file, and the folder browser.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "stub/sfxdialog.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"

#if !QL_SFX_INSTALL

namespace {

int CALLBACK browse_callback(HWND browser, UINT message, LPARAM, LPARAM)
{
    // The browser's "?" button leads nowhere here.
    if (message == BFFM_INITIALIZED) {
        SetWindowLongW(browser, GWL_STYLE, GetWindowLongW(browser, GWL_STYLE) & ~0x2000L);
        SetWindowLongW(browser, GWL_EXSTYLE,
                       GetWindowLongW(browser, GWL_EXSTYLE) & ~static_cast<LONG>(WS_EX_CONTEXTHELP));
    }
    return 0;
}

}  // namespace

int run_when_done(const QlStr& file, const QlStr& arguments, int* result)
{
    wchar_t found[MAX_PATH + 1] = {0};
    int value = static_cast<int>(reinterpret_cast<INT_PTR>(FindExecutableW(file.Text(), nullptr, found)));
    if (value == SE_ERR_NOASSOC) {
        QlStr text;
        text.Format(sfx_text(IDS_NO_ASSOCIATION).Text(), file.Text());
        sfx_box(g_sfx.main_window, text, MB_ICONERROR);
        return 0;
    }
    if (value > 32) {
        const wchar_t* verb = (g_sfx.header.flags & kSfxFlagInstallInf) ? L"Install" : nullptr;
        value = static_cast<int>(reinterpret_cast<INT_PTR>(
            ShellExecuteW(g_sfx.main_window, verb, file.Text(),
                          arguments.HasText() ? arguments.Text() : nullptr, nullptr, SW_SHOWNORMAL)));
        if (result)
            *result = value;
        if (value > 32)
            return value;
    }
    QlStr text;
    text.Format(sfx_text(IDS_RUN_ERROR).Text(), value, file.Text());
    sfx_box(g_sfx.main_window, text, MB_OK);
    return 0;
}

QlStr archiver_program(const QlStr& registry_command)
{
    QlStr command(registry_command);
    int placeholder = command.Find(L"%1");
    if (placeholder >= 0)
        command = command.Left(placeholder > 0 ? placeholder - 1 : 0);
    command.TrimLeft();
    command.TrimRight();
    // FindExecutableW takes a file, not a quoted command.
    if (command.Length() >= 2 && command.IsQuoted())
        command.Unquote();
    return command;
}

QlStr archiver_document(const QlStr& path, uint32_t flags)
{
    QlStr document(path);
    if ((flags & kSfxFlagSpanning) && !(flags & kSfxFlagZipOnFirstDisk)) {
        int slash = document.FindLastChar(L'\\', document.Length());
        int dot = document.FindLastChar(L'.', document.Length());
        if (dot > slash)
            document = document.Left(dot);
        document.AppendText(L".zip");
    }
    if (!document.IsQuoted() || document.Length() < 2)
        document = QlStr(L"\"") + document + L"\"";
    return document;
}

bool open_in_main_archiver()
{
    wchar_t value[1024] = {0};
    LONG size = sizeof value;
    if (GetKeyState(VK_SHIFT) < 0 ||
        RegQueryValueW(HKEY_CLASSES_ROOT, L"quolla\\shell\\open\\command", value, &size) !=
            ERROR_SUCCESS) {
        sfx_box_id(g_sfx.main_window, IDS_NO_ARCHIVER, MB_OK);
        return false;
    }
    value[sizeof value / sizeof value[0] - 1] = 0;
    // The path the user started (the first instance's), not the copy's,
    // which is deleted once this run ends.
    QlStr document = archiver_document(g_sfx.original_path, g_sfx.header.flags);
    return run_when_done(archiver_program(QlStr(value)), document, nullptr) != 0;
}

bool get_current_folder(QlStr* path)
{
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0)
        return false;
    QlStr folder;
    folder.SetLength(static_cast<int>(needed));
    DWORD length = GetCurrentDirectoryW(needed, folder.Buffer());
    if (length == 0 || length >= needed)
        return false;
    folder.SetLength(static_cast<int>(length));
    *path = folder;
    return true;
}

bool browse_for_folder(HWND owner, QlStr* folder)
{
    QlStr title = sfx_text(IDS_BROWSE_TITLE);
    BROWSEINFOW browse;
    ZeroMemory(&browse, sizeof browse);
    browse.hwndOwner = owner;
    browse.lpszTitle = title.Text();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    if (g_sfx.os.vista_or_later)
        browse.ulFlags |= BIF_NEWDIALOGSTYLE;
    browse.lpfn = browse_callback;
    LPITEMIDLIST items = SHBrowseForFolderW(&browse);
    if (items == nullptr)
        return false;
    wchar_t path[MAX_PATH + 1] = {0};
    bool chosen = SHGetPathFromIDListW(items, path) && path[0];
    IMalloc* shell_allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shell_allocator)) && shell_allocator) {
        shell_allocator->Free(items);
        shell_allocator->Release();
    }
    if (chosen)
        folder->AssignText(path);
    return chosen;
}

#endif
