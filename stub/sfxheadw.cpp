// The stub's main module, wide build: the entry, which runs the stub from a
// private copy in a fresh folder under the temp folder and then hands over to
// the start-up (sfxstart.cpp). The narrow build's twin is sfxhead.cpp.
#include <windows.h>
#include <shlwapi.h>

#include "stub/sfxstub.h"
#include "stub/sfxswitch.h"

namespace {

// --- paths

bool get_long_temp_path(QlStr* path)
{
    wchar_t temp[261] = {0};
    DWORD length = GetTempPathW(260, temp);
    if (length == 0 || length > 258)
        return false;
    QlStr base(temp);
    if (base.LastChar() != L'\\')
        base.AppendChar(L'\\');
    wchar_t long_form[520] = {0};
    DWORD long_length = GetLongPathNameW(base.Text(), long_form, 520);
    *path = long_length > 0 && long_length < 520 ? QlStr(long_form) : base;
    return true;
}

bool make_unique_folder(const QlStr& base, QlStr* folder)
{
    if (!PathFileExistsW(base.Text()))
        return false;
    DWORD n = GetTickCount();
    QlStr candidate;
    // Two stubs started in the same tick race for one name: the one whose
    // CreateDirectoryW fails takes the next. Only a folder made here is ever
    // deleted again.
    for (int tries = 0; tries < 0x10000; ++tries, ++n) {
        candidate.Format(L"%s%x\\", base.Text(), n);
        if (GetFileAttributesW(candidate.Text()) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (CreateDirectoryW(candidate.Text(), nullptr)) {
            *folder = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool make_relaunch_folder(QlStr* folder)
{
    QlStr base;
    return get_long_temp_path(&base) && make_unique_folder(base, folder);
}

// Deletes folder (ending in a backslash) and everything in it; true when the
// folder itself is gone. Read-only files (a read-only original gives a
// read-only copy) lose that attribute first.
bool delete_folder_tree(const QlStr& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"*").Text(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            QlStr name(found.cFileName);
            if (name == L"." || name == L"..")
                continue;
            QlStr path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    RemoveDirectoryW(path.Text());  // never into a link's target
                } else {
                    path.AppendChar(L'\\');
                    delete_folder_tree(path);
                }
                continue;
            }
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.Text(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.Text());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    QlStr bare(folder);
    if (bare.LastChar() == L'\\')
        bare.DropLast();
    SetFileAttributesW(bare.Text(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(bare.Text()) != FALSE;
}

// Runs the copy and waits for it; its exit code is the run's.
bool run_copy(const QlStr& target, const QlStr& folder, const QlStr& own, DWORD* exit_code)
{
    QlStr line = QlStr(L"\"") + target + L"\"";
    line.Append(sfx_line_behind_program(QlStr(GetCommandLineW())));
    line.AppendText(L" run=1 shortcut=\"");
    line.Append(own);
    line.AppendChar(L'"');

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    QlStr writable(line);
    if (!CreateProcessW(target.Text(), writable.Buffer(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.Text(), &startup, &process))
        return false;
    sfx_wait_for_copy(process, exit_code);
    return true;
}

enum class Relaunch { GoOn, Ended };

// True (GoOn) in the copy, and in the first instance when no copy could be
// made or started: the stub then runs in place rather than end silently.
Relaunch relaunch_from_temp_copy(int* exit_code)
{
    wchar_t system[261] = {0};
    UINT length = GetSystemDirectoryW(system, 260);
    if (length > 0 && length < 260) {
        QlStr lpk = QlStr(system) + L"\\lpk.dll";
        LoadLibraryExW(lpk.Text(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    QlStr own = sfx_module_path(261);
    // A .local beside the stub would redirect its DLLs.
    if (own.HasText() && GetFileAttributesW((own + L".local").Text()) != INVALID_FILE_ATTRIBUTES) {
        *exit_code = kExitInternal;
        return Relaunch::Ended;
    }

    SfxRelaunchMarkers markers =
        sfx_find_relaunch_markers(sfx_line_behind_program(QlStr(GetCommandLineW())));
    g_sfx.user_line = markers.user_line;
    g_sfx.original_path = markers.shortcut.HasText() ? markers.shortcut : own;
    if (markers.found || !own.HasText())
        return Relaunch::GoOn;

    QlStr folder;
    if (!make_relaunch_folder(&folder))
        return Relaunch::GoOn;
    QlStr target = folder + PathFindFileNameW(own.Text());
    DWORD code = 0;
    bool ran = CopyFileW(own.Text(), target.Text(), TRUE) && run_copy(target, folder, own, &code);
    delete_folder_tree(folder);
    if (!ran)
        return Relaunch::GoOn;
    *exit_code = static_cast<int>(code);
    return Relaunch::Ended;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    g_sfx.archive = INVALID_HANDLE_VALUE;
    int exit_code = 0;
    if (relaunch_from_temp_copy(&exit_code) == Relaunch::Ended)
        return exit_code;
    return sfx_run(instance);
}
