// The stub's start-up after the relaunch, the same in the wide and the narrow
// build: the integrity checks, the configuration, the start-up switches and
// the opening message, then dialog 100. The entry and the relaunch are the
// main module's (sfxheadw.cpp, or sfxhead.cpp in the narrow build).
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <new>

#include "common/QlGutz.h"
#include "common/QlRaise.h"
#include "stub/qlutil.h"
#include "stub/sfxres.h"
#include "stub/sfxdialog.h"
#include "stub/sfxstub.h"
#include "stub/sfxswitch.h"

SfxState g_sfx;

QlStr sfx_folder_part(const QlStr& path)
{
    int slash = path.FindLastChar(L'\\', path.Length());
    return slash < 0 ? QlStr() : path.Left(slash + 1);
}

QlStr sfx_module_path(DWORD units)
{
    wchar_t buffer[1024] = {0};
    DWORD length = GetModuleFileNameW(nullptr, buffer, units);
    return length == 0 || length >= units ? QlStr() : QlStr(buffer);
}

void sfx_wait_for_copy(const PROCESS_INFORMATION& process, DWORD* exit_code)
{
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, exit_code))
        *exit_code = kExitInternal;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The name part replaced by the long name that FindFirstFileW finds.
QlStr sfx_own_long_path(const QlStr& path)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path.Text(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return path;
    FindClose(find);
    return sfx_folder_part(path) + found.cFileName;
}

namespace {

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
    QlStr module = sfx_module_path(512);
    if (module.HasText())
        SetCurrentDirectoryW(sfx_folder_part(module).Text());
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    g_sfx.version = GetVersion();
    g_sfx.own_path = sfx_own_long_path(sfx_module_path(261));
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
    g_sfx.wide_api = !QL_SFX_NARROW;
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

int sfx_run(HINSTANCE instance)
{
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
