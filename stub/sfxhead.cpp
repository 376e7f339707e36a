// The stub's main module, narrow build (inst-aes-en, which also runs on the
// 9x family): the ANSI entry and the relaunch through the "A" functions and
// the build's own path object, and the delete at restart with its wininit.ini
// fallback. Its message texts and command-line splitter are in sfxnarrow.cpp;
// after the relaunch the start-up is the wide build's (sfxstart.cpp). The
// wide twin is sfxheadw.cpp.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stub/sfxfileid.h"
#include "stub/sfxnarrow.h"
#include "stub/sfxstub.h"
#include "stub/sfxswitch.h"

namespace {

// A narrow copy of a path that outlives the next narrow view.
void copy_narrow(const SfxFileId& path, char* out, size_t size)
{
    lstrcpynA(out, path.Narrow(), static_cast<int>(size));
}

// --- the relaunch

bool make_relaunch_folder(SfxFileId* folder)
{
    char temp[MAX_PATH + 1] = {0};
    DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length > MAX_PATH - 2)
        return false;
    char long_form[MAX_PATH * 2] = {0};
    DWORD long_length = GetLongPathNameA(temp, long_form, sizeof long_form);
    SfxFileId base(long_length > 0 && long_length < sizeof long_form ? long_form : temp);
    if (!base.AddTrailingSlash() || GetFileAttributesA(base.Narrow()) == INVALID_FILE_ATTRIBUTES)
        return false;
    // Two stubs started in the same tick race for one name: the one whose
    // CreateDirectoryA fails takes the next. Only a folder made here is ever
    // deleted again.
    DWORD n = GetTickCount();
    for (int tries = 0; tries < 0x10000; ++tries, ++n) {
        char name[16];
        _snprintf(name, sizeof name, "%lx\\", static_cast<unsigned long>(n));
        SfxFileId candidate(base);
        if (!candidate.AppendNarrow(name))
            return false;
        if (GetFileAttributesA(candidate.Narrow()) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (CreateDirectoryA(candidate.Narrow(), nullptr)) {
            *folder = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// Deletes the folder (ending in a backslash) and everything in it, never
// into a link's target; read-only files lose that attribute first.
void delete_folder_tree(const SfxFileId& folder)
{
    SfxFileId pattern(folder);
    WIN32_FIND_DATAA found;
    HANDLE find = pattern.AppendWide(L"*", 1) ? FindFirstFileA(pattern.Narrow(), &found) : INVALID_HANDLE_VALUE;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            SfxFileId name(found.cFileName);
            if (name.IsDot() || name.IsDotDot())
                continue;
            SfxFileId path(folder);
            if (!path.AppendWide(name.Wide(), name.Length()))
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveDirectoryA(path.Narrow());
                else if (path.AddTrailingSlash())
                    delete_folder_tree(path);
                continue;
            }
            SetFileAttributesA(path.Narrow(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.Narrow());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    SfxFileId bare;
    bare.SetWide(folder.Wide(), folder.Length() > 0 && folder.CharAt(folder.Length() - 1) == L'\\'
                                    ? folder.Length() - 1
                                    : folder.Length());
    SetFileAttributesA(bare.Narrow(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(bare.Narrow());
}

QlStr wide_of(const SfxFileId& path)
{
    return QlStr(path.Wide(), path.Length());
}

// Runs the copy with the user's arguments and the relaunch markers, and
// waits for it; its exit code is the run's.
bool run_copy(const SfxFileId& target, const SfxFileId& folder, const SfxFileId& own, DWORD* exit_code)
{
    QlStr behind = sfx_line_behind_program(QlStr(GetCommandLineA(), 1));
    QlStr line = QlStr(L"\"") + wide_of(target) + L"\"" + behind + L" run=1 shortcut=\"" + wide_of(own) + L"\"";
    QlStrNarrow narrow(line, 1);
    char* writable = narrow.Text() ? _strdup(narrow.Text()) : nullptr;
    if (writable == nullptr)
        return false;
    char target_text[5001];
    copy_narrow(target, target_text, sizeof target_text);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    bool started = CreateProcessA(target_text, writable, nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.Narrow(), &startup, &process) != FALSE;
    free(writable);
    if (!started)
        return false;
    sfx_wait_for_copy(process, exit_code);
    return true;
}

enum class Relaunch { GoOn, Ended };

// GoOn in the copy, and in the first instance when no copy could be made or
// started: the stub then runs in place rather than end silently.
Relaunch relaunch_from_temp_copy(int* exit_code)
{
    char system[MAX_PATH + 1] = {0};
    UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        SfxFileId lpk(system);
        if (lpk.AppendWide(L"\\lpk.dll", 8))
            LoadLibraryExA(lpk.Narrow(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    char module[MAX_PATH + 1] = {0};
    DWORD module_length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    SfxFileId own(module_length > 0 && module_length < MAX_PATH ? module : "");
    // A .local beside the stub would redirect its DLLs.
    SfxFileId local(own);
    if (own.Length() > 0 && local.AppendWide(L".local", 6) &&
        GetFileAttributesA(local.Narrow()) != INVALID_FILE_ATTRIBUTES) {
        *exit_code = kExitInternal;
        return Relaunch::Ended;
    }

    // The markers are found at the end of the line, as in the wide build:
    // splitting the user's text into arguments would let an odd quote in it
    // swallow run=1, and the copy would start copies without end.
    SfxRelaunchMarkers markers = sfx_find_relaunch_markers(sfx_line_behind_program(QlStr(GetCommandLineA(), 1)));
    g_sfx.user_line = markers.user_line;
    g_sfx.original_path = markers.shortcut.HasText() ? markers.shortcut : wide_of(own);
    if (markers.found || own.Length() == 0)
        return Relaunch::GoOn;

    SfxFileId folder;
    if (!make_relaunch_folder(&folder))
        return Relaunch::GoOn;
    SfxFileId target(folder);
    DWORD code = 0;
    char own_text[5001];
    copy_narrow(own, own_text, sizeof own_text);
    bool ran = target.AppendWide(own.Name(), lstrlenW(own.Name())) && CopyFileA(own_text, target.Narrow(), TRUE) &&
               run_copy(target, folder, own, &code);
    delete_folder_tree(folder);
    if (!ran)
        return Relaunch::GoOn;
    *exit_code = static_cast<int>(code);
    return Relaunch::Ended;
}

}  // namespace

void delete_at_restart_narrow(const char* path)
{
    if (!MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        schedule_in_wininit(path);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    g_sfx.archive = INVALID_HANDLE_VALUE;
    int exit_code = 0;
    if (relaunch_from_temp_copy(&exit_code) == Relaunch::Ended)
        return exit_code;
    return sfx_run(instance);
}
