// The stub's entry: it runs from a private copy in a fresh folder under the
// temp folder, checks itself, reads its configuration, handles its start-up
// switches and the opening message, and hands over to dialog 100.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <new>

#include "common/QlGutz.h"
#include "common/QlRaise.h"
#include "stub/qlutil.h"
#include "stub/sfxres.h"
#include "stub/sfxdialog.h"
#include "stub/sfxstub.h"
#include "stub/sfxswitch.h"

SfxState g_sfx;

namespace {

constexpr int kExitInternal = 1;

// --- paths

QlStr folder_part(const QlStr& path)
{
    int slash = path.FindLastChar(L'\\', path.Length());
    return slash < 0 ? QlStr() : path.Left(slash + 1);
}

QlStr module_path(DWORD units)
{
    wchar_t buffer[1024] = {0};
    DWORD length = GetModuleFileNameW(nullptr, buffer, units);
    return length == 0 || length >= units ? QlStr() : QlStr(buffer);
}

// The name part replaced by the long name that FindFirstFileW finds.
QlStr get_own_long_path(const QlStr& path)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path.Text(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return path;
    FindClose(find);
    return folder_part(path) + found.cFileName;
}

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
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, exit_code))
        *exit_code = kExitInternal;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
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
    QlStr own = module_path(261);
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

void detect_windows_version()
{
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info))
        internal_error(kSfxHeadSource, kSfxLineVersion);
    SfxOsFacts& os = g_sfx.os;
    bool nine_x = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    os.win98_or_later = nine_x && info.dwMinorVersion >= 10;
    os.win_me = nine_x && info.dwMinorVersion >= 90;
    os.nt_family = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    os.nt5_or_later = os.nt_family && info.dwMajorVersion >= 5;
    os.version_5_2 = info.dwMajorVersion == 5 && info.dwMinorVersion == 2;
    os.xp_or_later = info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1);
    os.vista_or_later = info.dwMajorVersion >= 6;
    g_util_narrow_api = os.win98_or_later;
}

void library_exit()
{
    qlGutzDisablePool();
    qlGutzFreePool();
}

// "-info" and "-args="; false when the stub ends here.
bool handle_startup_switches()
{
    QlStr bad;
    switch (sfx_scan_startup_switches(g_sfx.user_line, g_sfx.extra_args, kSfxExtraArgsUnits,
                                      &bad)) {
    case SfxStartupSwitch::Go:
        return true;
    case SfxStartupSwitch::Info:
        sfx_box(nullptr, g_sfx.config[7], MB_OK);
        return false;
    case SfxStartupSwitch::Invalid: {
        QlStr text;
        text.Format(sfx_text(IDS_BAD_PARAMETER).Text(), bad.Text());
        sfx_box(nullptr, text, MB_OK);
        return false;
    }
    }
    return false;
}

void apply_header_defaults()
{
#if QL_SFX_INSTALL
    g_sfx.wait_for_done = (g_sfx.header.flags & kSfxFlagManualWait) != 0;
#else
    g_sfx.overwrite_default = (g_sfx.header.flags & kSfxFlagOverwrite) != 0;
#endif
    g_sfx.entry_flags = (g_sfx.header.flags & kSfxFlagEncrypted) ? 1 : 0;
}

int run_stub()
{
    detect_windows_version();
    g_sfx.wait_cursor = LoadCursorW(nullptr, IDC_WAIT);
    g_sfx.arrow_cursor = LoadCursorW(nullptr, IDC_ARROW);
    // Dialog 100 carries the meter as a control: the class must exist first.
    register_meter_class(GetModuleHandleW(nullptr));
    QlStr module = module_path(512);
    if (module.HasText())
        SetCurrentDirectoryW(folder_part(module).Text());
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    g_sfx.version = GetVersion();
    g_sfx.own_path = get_own_long_path(module_path(261));
    if (!g_sfx.own_path.HasText())
        sfx_fatal(IDS_HEADER_CORRUPT);
    sfx_read_own_header(&g_sfx.header);

    // Every fatal message from here on returns to the caller's recovery point.
    init_archive();
    if (!check_pe_entry_point()) {
        sfx_box_id(nullptr, IDS_DAMAGED, MB_ICONERROR);
        return 0;
    }
    if (!handle_startup_switches())
        return 0;

    DWORD version = g_sfx.version;
    bool nt = (version & 0x80000000u) == 0;
    if (!(nt && (version & 0xFF) > 3) && (version & 0xFF) < 4) {
        sfx_box_id(nullptr, IDS_OLD_WINDOWS, MB_OK);
        return 0;
    }
    g_sfx.wide_api = true;
    if (g_sfx.header.written_marker == 0) {
        sfx_box_id(g_sfx.main_window, IDS_INCOMPLETE, MB_ICONERROR);
        return 0;
    }
    apply_header_defaults();
    if (!show_opening_message())
        return 0;
    g_sfx.auto_start = (g_sfx.header.flags & kSfxFlagAuto) != 0;
    parse_switches(g_sfx.user_line);

    DialogBoxParamW(g_sfx.instance, MAKEINTRESOURCEW(IDD_SFX_MAIN), nullptr,
                    sfx_main_dialog_proc, 0);
    if (g_sfx.pending_return != 0)
        return 0;  // a fatal message inside the dialog: no orderly shutdown
    shutdown_archive();
    return 0;
}

}  // namespace

bool show_opening_message()
{
#if QL_SFX_INSTALL
    QlStr& greeting = g_sfx.config[6];
#else
    QlStr& greeting = g_sfx.config[4];
#endif
    uint32_t flags = g_sfx.header.flags;
    if (!greeting.HasText() || (flags & kSfxFlagSilent))
        return true;
    UINT type = MB_OK;
    if (flags & kSfxFlagGreetingButtons)
        type = (flags & kSfxFlagGreetingOkCancel) ? MB_OKCANCEL : MB_YESNO;
    QlStr caption = (flags & kSfxFlagTitle) && g_sfx.config[5].HasText() ? g_sfx.config[5]
                                                                          : sfx_text(IDS_CAPTION);
    int answer = MessageBoxW(nullptr, greeting.Text(), caption.Text(), type | MB_TASKMODAL);
    if (answer == IDNO || answer == IDCANCEL)
        return false;
    greeting.Clear();
    return true;
}

void parse_switches(const QlStr& line)
{
    SfxSwitchWords words{sfx_text(IDS_WORD_AUTO), sfx_text(IDS_WORD_WAIT),
                         sfx_text(IDS_WORD_NOAUTO)};
    SfxSwitchState state{g_sfx.auto_start, g_sfx.wait_for_done, QlStr()};
#if QL_SFX_INSTALL
    sfx_parse_install_switches(line, words, &state);
#else
    sfx_parse_standard_switches(line, words, kSfxFolderMaxUnits, &state);
    if (state.folder.HasText())
        g_sfx.unzip_folder = state.folder;
#endif
    g_sfx.auto_start = state.auto_start;
    g_sfx.wait_for_done = state.wait_for_done;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    g_sfx.archive = INVALID_HANDLE_VALUE;
    int exit_code = 0;
    if (relaunch_from_temp_copy(&exit_code) == Relaunch::Ended)
        return exit_code;
    qlGutzEnablePool();
    atexit(library_exit);
    install_out_of_memory_handler();
    InitCommonControls();
    g_sfx.instance = instance;
    // The recovery point: a fatal message returns here, and the stub ends.
    int result = 0;
    qlCatch<std::bad_alloc>(
        [&] {
            qlCatch<SfxReturn>([&] { result = run_stub(); },
                               [&](const SfxReturn&) { result = 0; });
        },
        [](const std::bad_alloc&) { out_of_memory_exit(); });
    return result;
}
