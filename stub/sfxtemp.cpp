// The temporary folder of the installation mode: where it is made, how it
// is numbered, and how its tree is deleted when the setup command is done.
// The standard mode takes its default "Unzip To" folder from the same base.
#include <windows.h>

#include "stub/sfxdialog.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"
#include "stub/sfxnarrow.h"

namespace {

// A file still held by a finishing installer gets this long before it is
// left for the next restart.
constexpr DWORD kLockedFileMs = 1000;
constexpr DWORD kRetryStepMs = 50;

bool is_rooted(const QlStr& path)
{
    QlChar first = path.FirstChar();
    return first == L'\\' || first == L'/' || (path.Length() >= 2 && path.CharAt(1) == L':');
}

bool is_folder(const QlStr& path)
{
    DWORD attributes = GetFileAttributesW(path.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool no_stop() { return false; }

// Retries a locked file for a second, pumping messages so that the dialog
// stays alive, then leaves it for the next restart.
void delete_file_retrying(const QlStr& path)
{
    DWORD begin = GetTickCount();
    while (delete_file_forced(path) != 0) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
            return;
        if (GetTickCount() - begin >= kLockedFileMs) {
            delete_at_restart(path);
            return;
        }
        wait_pumping(kRetryStepMs, nullptr, no_stop);
    }
}

bool remove_folder(const QlStr& folder)
{
    SetFileAttributesW(folder.Text(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(folder.Text()) != FALSE;
}

bool delete_tree(const QlStr& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*.*").Text(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            QlStr name(found.cFileName);
            if (name == L"." || name == L"..")
                continue;
            // The short name reaches files whose long name is too long.
            QlStr path = folder + L"\\" + (found.cAlternateFileName[0] ? found.cAlternateFileName
                                                                        : found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A junction or link the setup program made: remove the
                // link, never what it points to.
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    remove_folder(path);
                } else if (!delete_tree(path)) {
                    remove_folder(path);
                }
            } else {
                delete_file_retrying(path);
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return remove_folder(folder);
}

}  // namespace

QlStr start_folder()
{
    const QlStr& path = g_sfx.original_path;
    int slash = path.FindLastChar(L'\\', path.Length());
    return slash < 0 ? QlStr() : path.Left(slash + 1);
}

QlStr full_path_from_start(const QlStr& path)
{
    if (!path.HasText())
        return path;
    QlStr joined = is_rooted(path) ? path : start_folder() + path;
    wchar_t full[MAX_PATH + 1] = {0};
    DWORD length = GetFullPathNameW(joined.Text(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? QlStr(full) : joined;
}

bool temp_env_folder(const QlChar* variable, QlStr* value)
{
    wchar_t text[MAX_PATH + 1] = {0};
    DWORD length = GetEnvironmentVariableW(variable, text, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    value->AssignText(text);
    return true;
}

bool windows_temp_folder(QlStr* path)
{
    wchar_t windows[MAX_PATH + 1] = {0};
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    QlStr folder(windows);
    folder.AddTrailingSlash();
    folder.Append(sfx_text(IDS_TEMP_NAME));
    DWORD attributes = GetFileAttributesW(folder.Text());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(folder.Text(), nullptr))
            return false;
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    *path = folder;
    return true;
}

bool get_temp_base_folder(QlStr* path)
{
    QlStr base;
    if (!temp_env_folder(L"TMP", &base) && !temp_env_folder(L"TEMP", &base) &&
        !windows_temp_folder(&base))
        return false;
    *path = full_path_from_start(base);
    return path->HasText();
}

bool make_numbered_temp_folder(const QlStr& base, QlStr* folder)
{
    if (!base.HasText())
        return false;
    QlStr prefix(base);
    prefix.AddTrailingSlash();
    QlStr candidate;
    for (int n = 0; n < 100; ++n) {
        candidate.Format(L"%sQLSE%d.TMP", prefix.Text(), n);
        if (CreateDirectoryW(candidate.Text(), nullptr)) {
            *folder = candidate;
            return true;
        }
    }
    return false;
}

bool create_temp_folder(QlStr* folder)
{
    QlStr base;
    return get_temp_base_folder(&base) && make_numbered_temp_folder(base, folder);
}

bool delete_temp_folder(const QlStr& folder)
{
    // The extracted files of a run whose command never ran are the user's
    // to look at or to start by hand.
    if (g_sfx.keep_temp_folder)
        return false;
    // A drive root is never deleted.
    if (folder.Length() <= 3) {
        sfx_box_id(g_sfx.main_window, IDS_CHDIR_ERROR, MB_OK);
        return false;
    }
    QlStr bare(folder);
    while (bare.Length() > 3 && (bare.LastChar() == L'\\' || bare.LastChar() == L'/'))
        bare.DropLast();
    if (!is_folder(bare))
        return false;
    return delete_tree(bare);
}

int delete_file_forced(const QlStr& path)
{
    SetFileAttributesW(path.Text(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.Text()) ? 0 : 1;
}

void delete_at_restart(const QlStr& path)
{
#if QL_SFX_NARROW
    delete_at_restart_narrow(QlStrNarrow(path, 1).Text());
#else
    if (g_sfx.os.nt_family)
        MoveFileExW(path.Text(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    else
        schedule_in_wininit(QlStrNarrow(path, 1).Text());
#endif
}
