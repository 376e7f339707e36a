// The builder's entry function and main body.
#include "builder/winsfx.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include <objbase.h>

#include "builder/qlse32api.h"
#include "builder/seams.h"
#include "builder/services.h"
#include "builder/setup/QlSplFdr.h"
#include "builder/setup/qlseopts.h"
#include "builder/setup/version.h"
#include "builder/sfxoptions.h"
#include "builder/stubvariants.h"
#include "builder/switches.h"
#include "builder/testhooks.h"
#include "builder/textfile.h"
#include "builder/trace.h"
#include "builder/ui/dlg.h"
#include "builder/ui/help.h"
#include "builder/ui/meter.h"
#include "builder/ui/msgsink.h"
#include "builder/ui/wiz.h"
#include "builder/ui/wizcheck.h"
#include "common/QlCmdl.h"
#include "common/QlGutz.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"
#include "common/QlWin32.h"
#include "common/memory.h"

namespace {

const char kSource[] = "winsfx";
const int kLineNoStubImage = 4204;
const int kLineWorkBuffer = 4208;
const int kLineVersion = 3984;
const int kLineAdvapi = 4043;
const int kLineOpenToken = 4048;
const int kLineTokenInfo = 4051;
const int kLineElevation = 4067;

const int kMsgUiLanguage = 1000;
const int kMsgNoZipName = 1017;
const int kMsgHelpMissing = 4350;
const int kMsgNeedsCommand = 4590;
const int kMsgAdvancedSwitch = 4610;
const int kMsgLineTooLong = 4880;
const int kMsgWin32s = 4940;
const int kMsgLibraryOld = 6240;
const int kMsgBuilderOld = 6250;
const int kMsgLibraryMissing = 6260;
const int kMsgValidation = 6324;

const int kCommandLineLimit = 1022;
const int kModulePathLimit = 299;
const wchar_t kBuilderVersion[] = L"4.0";

uint8_t* g_workBuffer = nullptr;
uint32_t g_workBufferSize = 0;
HINSTANCE g_instance = nullptr;
QlStr g_builderFolder;
QlStr g_helpFile;
int g_commonControlsVersion = 0;

int box_hook(int help_id, HWND owner, const QlStr& text, const QlStr& caption, UINT flags)
{
    return sink_message_box(help_id, owner, text, caption, flags, help_id);
}

void drain_string_pool()
{
    qlGutzDisablePool();
    qlGutzFreePool();
}

}  // namespace

// Writes the option record for tests: QL_OPTIONS_DUMP=<file> names a file
// that gets one "name=value" line per field (UTF-8), rewritten at each stage
// of the start-up that changes the record.
void dump_options_if_asked(const wchar_t* stage, int result)
{
    wchar_t path[2048];
    DWORD n = GetEnvironmentVariableW(L"QL_OPTIONS_DUMP", path, 2048);
    if (n == 0 || n >= 2048)
        return;
    FILE* file = _wfopen(path, L"wb");
    if (!file)
        return;
    auto text = [&](const char* name, const QlStr& value) {
        QlStr escaped;
        for (int i = 0; i < value.Length(); ++i) {
            QlChar c = value.CharAt(i);
            if (c == L'\n') escaped += L"\\n";
            else if (c == L'\r') escaped += L"\\r";
            else if (c == L'\t') escaped += L"\\t";
            else if (c == L'\\') escaped += L"\\\\";
            else escaped += c;
        }
        fprintf(file, "%s=%s\n", name, escaped.ToUtf8Static());
    };
    auto flag = [&](const char* name, bool value) { fprintf(file, "%s=%d\n", name, value ? 1 : 0); };
    fprintf(file, "stage=%s\nresult=%d\n", QlStr(stage).ToUtf8Static(), result);
    fprintf(file, "common_controls_version=%d\n", g_commonControlsVersion);
    const SfxOptions& o = g_options;
    const SfxBuildSettings& s = g_settings;
    text("zip_name", o.zip_name);
    text("output_name", o.output_name);
    text("default_folder", o.default_folder);
    text("greeting_file", o.greeting_file);
    text("greeting_text", o.greeting_text);
    text("title", o.title);
    text("command", o.command);
    text("dialog_text_file", o.dialog_text_file);
    text("dialog_text", o.dialog_text);
    text("about_text_file", o.about_text_file);
    text("about_text", o.about_text);
    text("icon_file", o.icon_file);
    flag("installation_mode", o.installation_mode);
    flag("overwrite", o.overwrite);
    flag("option_3", o.option_3);
    flag("auto", o.auto_unzip);
    flag("option_k", o.option_k);
    flag("no_crc", o.no_crc);
    flag("silent", o.silent);
    flag("title_given", o.title_given);
    flag("title_on_setup_button", o.title_on_setup_button);
    flag("pe_section", o.pe_section);
    flag("greeting_buttons", o.greeting_buttons);
    flag("greeting_ok_cancel", o.greeting_ok_cancel);
    fprintf(file, "format=%d\nlanguage=%d\n", o.format, o.language);
    text("wait_name", o.wait_name);
    flag("spanning", o.spanning);
    flag("zip_behind_stub", o.zip_behind_stub);
    text("spanning_drive", o.spanning_drive ? QlStr(&o.spanning_drive, 1) : QlStr());
    flag("wipe_disks", o.wipe_disks);
    flag("argv0", o.argv0);
    flag("run_as_admin", o.run_as_admin);
    flag("oem", s.oem);
    flag("wait_on", s.wait_on);
    flag("manual_wait", s.manual_wait);
    flag("comment_on", s.comment_on);
    text("comment_file", s.comment_file);
    flag("no_about_button", s.no_about_button);
    flag("prompts_off", s.prompts_off);
    flag("greeting_wanted", s.greeting_wanted);
    flag("allow_switches_in_command", s.allow_switches_in_command);
    flag("build_log", s.build_log);
    flag("custom_stub", s.custom_stub);
    text("custom_stub_path", s.custom_stub_path);
    fprintf(file, "custom_stub_size=%ld\n", static_cast<long>(s.custom_stub_size));
    flag("post_install", s.post_install);
    flag("from_command_line", s.from_command_line);
    fclose(file);
}

HelperLibrary* g_helper = nullptr;

namespace {

HelperLibrary g_library;

template <class Fn>
bool bind(HMODULE module, const char* name, Fn& entry)
{
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return entry != nullptr;
}

// Loads the library from the builder's folder; false (message 6260) when the
// file is missing, the version check failed (its own message), or it cannot
// be loaded or lacks an entry point.
bool load_helper_library()
{
    QlStr path = g_builderFolder + QL("QLSE32.DLL");
    // A missing file is missing, not "an old version".
    if (!qlFileExists(path)) {
        message_box_id(kMsgLibraryMissing, load_message(kMsgLibraryMissing), MB_OK | MB_ICONERROR);
        return false;
    }
    if (!check_dll_version(path, kMsgLibraryOld, kMsgBuilderOld))
        return false;
    HelperLibrary& l = g_library;
    l.module = LoadLibraryW(path.Text());
    bool bound = l.module != nullptr && bind(l.module, QLSE_ENTRY_ZIPSPLIT, l.zipsplit) &&
                 bind(l.module, QLSE_ENTRY_LABEL, l.label) &&
                 bind(l.module, QLSE_ENTRY_WIPE, l.wipe) &&
                 bind(l.module, QLSE_ENTRY_ZIP_INIT, l.zip_init) &&
                 bind(l.module, QLSE_ENTRY_CHECK_MULTI, l.check_multi_volume) &&
                 bind(l.module, QLSE_ENTRY_UNZIP_INIT, l.unzip_init) &&
                 bind(l.module, QLSE_ENTRY_UNZIP, l.unzip);
    if (!bound) {
        if (l.module)
            FreeLibrary(l.module);
        l = HelperLibrary();
        message_box_id(kMsgLibraryMissing, load_message(kMsgLibraryMissing), MB_OK | MB_ICONERROR);
        return false;
    }
    g_helper = &l;
    return true;
}

void unload_helper_library()
{
    if (g_library.module)
        FreeLibrary(g_library.module);
    g_library = HelperLibrary();
    g_helper = nullptr;
}

// The machine-wide settings belong to this version (no rights to write
// them is no failure).
void write_machine_version()
{
    qlWin32RegSetString(HKEY_LOCAL_MACHINE, QlStr(kBuilderRegistryKey) + QL("\\WinIni"),
                        QlStr(QL("win32_version")), QlStr(kBuilderVersion));
}

// The special first arguments: the whole line, without case.
bool is_special_argument(const QlStr& line, const QlChar* argument)
{
    QlStr whole = line;
    whole.TrimLeft();
    whole.TrimRight();
    return whole.EqualsNoCase(argument);
}

bool special_first_argument(const QlStr& line, int& exitCode)
{
    if (is_special_argument(line, QL("-setup"))) {
        exitCode = kExitNothingToBuild;
        return true;
    }
    if (is_special_argument(line, QL("-setupSM"))) {
        exitCode = create_start_menu_folder() ? kExitNothingToBuild : kExitRefused;
        return true;
    }
    return false;
}

bool line_tokenizes(const QlStr& line)
{
    try {
        QlCmdLine tokens(line);
        QlStr token;
        while (tokens.NextArg(token)) {
        }
        return true;
    } catch (...) {
        return false;
    }
}

// The checks of the mode that the switches chose; false ends the program.
bool check_mode()
{
    if (!g_options.installation_mode) {
        if (g_settings.wait_on || g_settings.manual_wait || g_options.dialog_text_file.HasText()) {
            show_error_id(kMsgAdvancedSwitch);
            return false;
        }
        return true;
    }
    if (g_options.command.HasText() && check_command())
        return false;
    if (g_settings.wait_on && !g_options.wait_name.HasText())
        g_options.wait_name = QL("_ISDEL");
    if (!g_options.command.HasText()) {
        show_error_id(kMsgNeedsCommand);
        return false;
    }
    return true;
}

}  // namespace

bool check_command_line_length(int module_length, int line_length)
{
    if (module_length > kModulePathLimit)
        module_length = kModulePathLimit;
    return module_length + line_length + 1 >= kCommandLineLimit;
}

bool check_command_line_length(const QlStr& command_line)
{
    QlStr own;
    int length = get_module_file_name(nullptr, own);
    if (!check_command_line_length(length, command_line.Length()))
        return false;
    show_error_id(kMsgLineTooLong);
    return true;
}

char wchar_to_ansi(wchar_t unit)
{
    char bytes[4] = {};
    BOOL lost = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, &unit, 1, bytes, sizeof bytes, nullptr, &lost);
    return n == 1 && !lost ? bytes[0] : 0;
}

HWND get_owner_window(bool last_popup)
{
    HWND main = main_window();
    if (main == nullptr)
        return nullptr;
    return last_popup ? GetLastActivePopup(main) : main;
}

void detect_os_and_defaults()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version))
        report_win32_failure(kSource, kLineVersion);
    OsVersionFlags& os = g_os;
    os = OsVersionFlags();
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        os.win98_or_later = version.dwMinorVersion > 9;
        os.win_me = version.dwMinorVersion >= 90;
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        os.nt_family = true;
        os.win2000_or_later = version.dwMajorVersion > 4;
        os.version_5_2 = version.dwMajorVersion == 5 && version.dwMinorVersion == 2;
        os.xp_or_later = version.dwMajorVersion > 5 ||
                         (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
        os.vista_or_later = version.dwMajorVersion > 5;
    }
    reset_options();
    if (!os.vista_or_later)
        return;
    typedef BOOL(WINAPI * OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
    typedef BOOL(WINAPI * GetTokenInformationFn)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD,
                                                 PDWORD);
    HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
    if (!qlCheck(advapi != nullptr, kSource, kLineAdvapi))
        return;
    auto openToken = reinterpret_cast<OpenProcessTokenFn>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "OpenProcessToken")));
    auto tokenInfo = reinterpret_cast<GetTokenInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "GetTokenInformation")));
    if (qlCheck(openToken != nullptr, kSource, kLineOpenToken) &&
        qlCheck(tokenInfo != nullptr, kSource, kLineTokenInfo)) {
        HANDLE token = nullptr;
        if (openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            DWORD type = 0;
            DWORD length = 0;
            // TokenElevationType (18); 2 = full.
            if (qlCheck(tokenInfo(token, static_cast<TOKEN_INFORMATION_CLASS>(18), &type,
                                  sizeof type, &length) && length == sizeof type,
                        kSource, kLineElevation))
                os.process_elevated = type == 2;
            CloseHandle(token);
        }
    }
    FreeLibrary(advapi);
}

int builder_body(HINSTANCE instance, const QlStr& command_line)
{
    SetErrorMode(SEM_FAILCRITICALERRORS);
    if (check_command_line_length(command_line))
        return kExitStartupFailed;
    DWORD platform = GetVersion();
    if ((platform & 0x80000000u) != 0 && (platform & 0xFF) < 4) {
        show_error_id(kMsgWin32s);
        return kExitStartupFailed;
    }
    QlStr own;
    get_module_file_name(nullptr, own);
    g_builderFolder = folder_of(own);
    g_commonControlsVersion = read_common_controls_version();
    // An uninstall needs neither the helper library nor the help file, and
    // must not record this version again: it removes a damaged or half
    // removed installation as well as a whole one.
    if (is_special_argument(command_line, QL("-uninstall")))
        return run_uninstall(load_message(kMsgCaption)) == 1 ? kExitNothingToBuild : kExitRefused;
    write_machine_version();

    if (!load_helper_library())
        return kExitStartupFailed;
    int exitCode = kExitNothingToBuild;
    g_helpFile = g_builderFolder + QL("quollase.chm");
    if (!qlFileExists(g_helpFile)) {
        show_error_id(kMsgHelpMissing);
        exitCode = kExitStartupFailed;
    } else if (run_test_dialog_if_asked(&exitCode)) {
    } else if (special_first_argument(command_line, exitCode)) {
    } else if (!line_tokenizes(command_line)) {
        show_error_id(kMsgValidation);
        exitCode = kExitRefused;
    } else {
        if (load_message(kMsgUiLanguage).EqualsNoCase(QL("DE")))
            g_options.language = 1;
        int result = parse_builder_switches_guarded(command_line);
        dump_options_if_asked(L"parsed", result);
        if (result == kSwitchesStop || (result == kSwitchesWizard && g_settings.post_install)) {
            exitCode = switches_refused() ? kExitRefused : kExitNothingToBuild;
        } else if (!check_mode() || !load_message_text(g_options.zip_name, false)) {
            exitCode = kExitRefused;
        } else if (result == kSwitchesBuild) {
            if (!g_options.zip_name.HasText()) {
                show_error_id(kMsgNoZipName);
                exitCode = kExitRefused;
            } else {
                QlStr name = g_options.zip_name;
                int slash = name.FindLastChar(QL('\\'), name.Length());
                if (name.FindLastChar(QL('.'), name.Length()) <= slash)
                    name += QL(".zip");
                QlStr full;
                if (full_file_path(name, full))
                    name = full;
                g_options.zip_name = name;
                g_settings.from_command_line = true;
                dump_options_if_asked(L"build", result);
                exitCode = build_sfx_guarded(nullptr) == 1 ? kExitBuilt : kExitBuildFailed;
            }
        } else if (activate_other_instance(command_line)) {
            exitCode = kExitNothingToBuild;
        } else if (record_builder_version() == 0) {
            exitCode = kExitNothingToBuild;
        } else {
            dump_options_if_asked(L"wizard", result);
            exitCode = run_wizard() == 1 ? kExitBuilt : kExitNothingToBuild;
        }
    }
    unload_helper_library();
    return exitCode;
}

int builder_main(HINSTANCE instance, const QlStr& command_line)
{
    install_crash_handlers();
    qlGutzEnablePool();
    atexit(drain_string_pool);
    g_instance = instance;
    setlocale(LC_CTYPE, "");
    qlMemSetNewHandler();
    qlMiscSetMessageBoxHook(box_hook);

    g_workBufferSize = size_stub_images();
    if (g_workBufferSize == 0)
        report_assertion(kSource, kLineNoStubImage);
    g_workBuffer = static_cast<uint8_t*>(malloc(g_workBufferSize));
    if (g_workBuffer == nullptr)
        report_assertion(kSource, kLineWorkBuffer);

    detect_os_and_defaults();
    QlStr own;
    HRESULT com = CoInitialize(nullptr);
    qlSetComStarted(SUCCEEDED(com));
    register_meter_class(instance);
    dialog_services_start();
    get_module_file_name(nullptr, own);
    help_start(folder_of(own) + QL("quollase.chm"));
    int result = builder_body(instance, command_line);
    help_stop();
    if (SUCCEEDED(com))
        CoUninitialize();
    free(g_workBuffer);
    g_workBuffer = nullptr;
    return result;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR command_line, int)
{
    return builder_main(instance, QlStr(command_line ? command_line : L""));
}
